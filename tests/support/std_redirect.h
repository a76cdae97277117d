// Standard output captured and standard input fed by a test, so a procedure
// that prints its screens and reads its keys can run inside a test program.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Standard output redirected into a temporary file; the file can be read
// while the capture runs (from any thread).
class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        char name[] = "/tmp/zhand-stdout-XXXXXX";
        file = mkstemp(name);
        if (file < 0) std::abort();
        unlink(name);
        dup2(file, STDOUT_FILENO);
    }
    ~StdoutCapture() { Take(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything printed so far.
    std::string Text() const {
        std::fflush(stdout);
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        for (off_t at = 0; (n = pread(file, buffer, sizeof buffer, at)) > 0; at += n)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    // Stops capturing; returns everything printed.
    std::string Take() {
        if (saved < 0) return "";
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        saved = -1;
        std::string text = Text();
        close(file);
        return text;
    }

  private:
    int saved = -1;
    int file = -1;
};

// Standard input replaced by a pipe whose write end the test holds, so keys
// can arrive while the station waits; restored on destruction.
class StdinPipe {
  public:
    StdinPipe() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) std::abort();
        saved = dup(STDIN_FILENO);
        dup2(ends[0], STDIN_FILENO);
        close(ends[0]);
        writeEnd = ends[1];
    }
    ~StdinPipe() {
        close(writeEnd);
        dup2(saved, STDIN_FILENO);
        close(saved);
    }
    StdinPipe(const StdinPipe&) = delete;
    StdinPipe& operator=(const StdinPipe&) = delete;

    void Type(const std::string& keys) {
        if (write(writeEnd, keys.data(), keys.size()) < 0) std::abort();
    }

  private:
    int saved = -1;
    int writeEnd = -1;
};
