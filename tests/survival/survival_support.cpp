#include "survival_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "parameters.h"
#include "test_station.h"

WorkDir::WorkDir(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
}

WorkDir::~WorkDir() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

CapturedOutput::CapturedOutput() {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    file_ = dup(fileno(file));
    std::fclose(file);
    saved_ = dup(STDOUT_FILENO);
    dup2(file_, STDOUT_FILENO);
}

CapturedOutput::~CapturedOutput() {
    Take();
    if (file_ >= 0) close(file_);
}

std::string CapturedOutput::Take() {
    if (saved_ < 0) return {};
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
    std::string text;
    char buffer[65536];
    ssize_t n;
    lseek(file_, 0, SEEK_SET);
    while ((n = read(file_, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    return text;
}

const char* BadKindName(BadKind kind) {
    switch (kind) {
        case BadKind::Empty:
            return "Empty";
        case BadKind::Truncated:
            return "Truncated";
        case BadKind::Binary:
            return "Binary";
        case BadKind::Huge:
            return "Huge";
    }
    return "?";
}

std::string BadVariant(const std::string& good, BadKind kind, std::size_t hugeBytes) {
    switch (kind) {
        case BadKind::Empty:
            return {};
        case BadKind::Truncated: {
            // Cut in the middle of the last non-empty line, no line end after it.
            std::size_t end = good.find_last_not_of("\r\n");
            std::size_t start = good.rfind('\n', end);
            start = start == std::string::npos ? 0 : start + 1;
            return good.substr(0, start + (end - start + 1) / 2);
        }
        case BadKind::Binary: {
            std::mt19937 random(7);
            std::string bytes(std::max<std::size_t>(good.size(), 512), '\0');
            for (char& c : bytes) c = static_cast<char>(random());
            // The bytes that trouble text readers most, for certain.
            bytes.replace(0, 12, std::string("\0\r\n\xff\x1a\x1b[2J%s%n", 12));
            return bytes;
        }
        case BadKind::Huge: {
            std::string text;
            text.reserve(hugeBytes + good.size());
            while (text.size() < hugeBytes) text += good;
            return text + BadVariant(good, BadKind::Truncated, 0);
        }
    }
    return {};
}

std::string FactoryDefaults() {
    std::string text;
    for (const zhandsim::ParameterInfo& p : zhandsim::ParameterTable()) {
        if (p.readOnly) continue;
        text += std::string(p.name);
        for (int v : p.defaults) text += "\t" + std::to_string(v);
        text += "\n";
    }
    return text;
}

SimulatedHand::SimulatedHand(double speed) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zhand-survival-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir_ = pattern;
    zhandsim::SimulatorOptions options;
    options.directory = dir_;
    options.speed = speed;
    options.pace = false;  // an instant peer
    sim_ = std::make_unique<zhandsim::Simulator>(options);
    std::string error;
    if (!sim_->Start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return;
    }
    // The driver opens ./COM1 of the working directory.
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    open_ = ProgramHand().Initialize(1, 0) == 0;
    std::filesystem::current_path(previous);
    // A hand that stops answering fails each command after 300 ms, not 15 s.
    ProgramHand().SetTimeouts(0, 10, 300, 10, 1000);
}

SimulatedHand::~SimulatedHand() {
    sim_->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}
