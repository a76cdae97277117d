// Shared pieces of the survival tests: a private working directory, captured
// standard output, the bad variants of a file, and a station-side hand on an
// in-process simulator (files are read and written with files.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "zhand_sim.h"

// Makes a fresh temporary directory the working directory for the life of
// the object; removes it afterwards.
class WorkDir {
  public:
    explicit WorkDir(const char* prefix = "zhand-survival");
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// Everything written to standard output (file descriptor 1) while it lives.
class CapturedOutput {
  public:
    CapturedOutput();
    ~CapturedOutput();
    // What was written so far; stops the capture.
    std::string Take();

  private:
    int saved_ = -1;
    int file_ = -1;
};

// The ways a file edited or copied by hand goes wrong.
enum class BadKind { Empty, Truncated, Binary, Huge };
const char* BadKindName(BadKind kind);
inline constexpr BadKind kBadKinds[] = {BadKind::Empty, BadKind::Truncated, BadKind::Binary,
                                        BadKind::Huge};

// A bad variant of `good`: empty; cut in the middle of its last line; the
// same length of arbitrary bytes (NULs, CRs, 0xFF, escapes); or `good`
// repeated up to `hugeBytes` with a cut line at the end.
std::string BadVariant(const std::string& good, BadKind kind, std::size_t hugeBytes);

// A Defaults.dat that matches the simulated hand's factory values: one
// record per writable parameter.
std::string FactoryDefaults();

// The application's hand opened on an in-process simulator whose COM1 is
// linked in a directory of its own, with short time-outs. The driver lets a
// process open its port once, so a test program keeps one for its life.
class SimulatedHand {
  public:
    explicit SimulatedHand(double speed = 200);
    ~SimulatedHand();
    SimulatedHand(const SimulatedHand&) = delete;
    SimulatedHand& operator=(const SimulatedHand&) = delete;
    zhandsim::Simulator& Sim() { return *sim_; }
    bool Open() const { return open_; }

  private:
    std::filesystem::path dir_;
    std::unique_ptr<zhandsim::Simulator> sim_;
    bool open_ = false;
};
