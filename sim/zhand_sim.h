// zhand-sim in-process: a simulated ZorvathHand controller served on a
// pseudo-terminal by a thread of its own, linked as COMn in a directory, as
// the station expects a real hand's serial port.
//
//   zhandsim::SimulatorOptions options;
//   options.directory = tempDir;    // COM1 is linked there
//   options.speed = 100;            // a finger closes in 10 ms
//   zhandsim::Simulator sim(options);
//   std::string error;
//   if (!sim.Start(&error)) ...;
//   ... open tempDir/COM1 like a serial port and talk to the hand ...
//   sim.State().motors[0].position;   // finger 1
//   sim.Stop();                       // also done by the destructor
//
// Every member is safe to call from any thread while the simulator runs.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "controller.h"
#include "fault.h"
#include "parameters.h"

namespace zhandsim {

struct SimulatorOptions {
    std::filesystem::path directory = ".";  // where COMn is linked and loader files go
    int port = 1;                           // 1..9
    double speed = 1;                       // model time runs this many times faster
    // Every byte takes its time on the wire, as on a real hand's line; false
    // gives an instant peer (tests and benchmarks that want speed).
    bool pace = true;
    bool trace = false;                               // commands, replies and events to traceSink
    std::function<void(std::string_view)> traceSink;  // default: standard error
    std::uint64_t seed = 1;                           // noise, scatter and fault noise
    int minSpreadVelocity = 23;  // slowest closing velocity that lifts the spread
    std::vector<Fault> faults;
    int graceMs = 500;  // how long an answer waits for the host to reach the hand's rate
};

struct MotorState {
    int position = 0;
    int closes = 0;  // closing moves started
    int opens = 0;   // opening moves started
    ParameterValues working{};
    ParameterValues stored{};
};

struct HandState {
    std::array<MotorState, kMotorCount> motors{};  // motors 1..4 at index 0..3
    Mode mode = Mode::Command;
    int handBaud = 9600;        // the rate the hand runs its command line at
    unsigned commands = 0;      // command lines received
    unsigned hangups = 0;       // line hang-ups so far
    bool lineUp = false;        // a pty is open and linked
    int temperatureTenths = 0;  // without reading noise
    unsigned loopMotors = 0;    // bit m-1: motor m in the real-time loop
    int controlLength = 0;
    int feedbackLength = 0;
    int firmwarePackets = 0;
    bool firmwareBetweenPackets = false;  // loader past its handshake, waiting for a packet
};

class Simulator {
  public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();  // Stop()
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty, links it as COMn and starts serving. False, with a
    // message in `error`, when the pty or the link cannot be made.
    bool Start(std::string* error = nullptr);
    // Stops serving, writes pending loader data, removes the link (if it
    // still points to this simulator's device) and closes the pty.
    void Stop();
    bool Running() const;

    // The current device (after a hang-up fault, a new one).
    std::string DevicePath() const;
    std::filesystem::path LinkPath() const;
    // Where a loader's data is written: COMn-eeploadr.bin (loader program),
    // COMn-eeprom.bin (image), COMn-firmware.bin (64 KiB memory, 0xFF where
    // nothing was loaded).
    std::filesystem::path LoaderPath(LoaderFile file) const;

    void SetSpeed(double speed);
    // Every byte takes its time on the wire (true) or none (false), from now on.
    void SetPace(bool pace);
    void InjectFault(const Fault& fault);
    void ClearFaults();

    HandState State() const;
    // A working parameter of motor 1..4 by name; 0 for an unknown name.
    int Parameter(int motor, std::string_view name) const;
    std::vector<std::uint8_t> BootLoaderBytes() const;
    std::vector<std::uint8_t> EepromImage() const;
    std::vector<std::uint8_t> FirmwareMemory() const;

    // Runs `f` on the controller while the simulator holds its lock.
    void WithController(const std::function<void(Controller&)>& f);
    // Waits until `done` holds for the state, or `limit` passes. True when it held.
    bool WaitFor(const std::function<bool(const HandState&)>& done,
                 std::chrono::milliseconds limit) const;

  private:
    struct Server;
    SimulatorOptions options_;
    std::unique_ptr<Server> server_;
};

}  // namespace zhandsim
