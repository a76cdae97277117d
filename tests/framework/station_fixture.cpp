#include "station_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "startup.h"
#include "station.h"
#include "test_log.h"

namespace fs = std::filesystem;

std::string EnterTempDir(const char* prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    fs::current_path(pattern);
    return pattern;
}

void RegisterTests() {
    FillTestTable();
    LoadPrefs();
}

std::string ReadTestLog() {
    for (const auto& entry : fs::directory_iterator(fs::current_path())) {
        if (entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    return "";
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    saved = dup(STDOUT_FILENO);
    char name[] = "/tmp/zhand-stdout-XXXXXX";
    file = mkstemp(name);
    unlink(name);
    dup2(file, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    Take();
}

std::string StdoutCapture::Take() {
    if (saved < 0) return "";
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    saved = -1;
    std::string text;
    lseek(file, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(file, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(file);
    return text;
}

StdinPipe::StdinPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
    saved = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
    close(ends[0]);
    writeEnd = ends[1];
}

StdinPipe::~StdinPipe() {
    close(writeEnd);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

void StdinPipe::Type(const std::string& keys) {
    if (write(writeEnd, keys.data(), keys.size()) < 0) std::abort();
}
