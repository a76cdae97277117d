// Captures what the station writes to standard output.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() { Stop(); }

    // Everything written since the start (or the last Take).
    std::string Take() {
        std::fflush(stdout);
        std::string text;
        std::fseek(file_, offset_, SEEK_SET);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
        offset_ = std::ftell(file_);
        return text;
    }

    void Stop() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
        std::fclose(file_);
    }

  private:
    std::FILE* file_ = nullptr;
    int saved_ = -1;
    long offset_ = 0;
};
