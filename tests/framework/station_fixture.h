// Helpers for running the station's test procedures inside a test program:
// a temporary working directory, the test table filled as at start-up, the
// log file read back, and standard input and output redirected.
#pragma once

#include <string>

// Makes a fresh temporary directory the working directory; returns its path.
std::string EnterTempDir(const char* prefix);

// Fills testProcs with the ten procedures and runs LoadPrefs, as start-up does.
void RegisterTests();

// The whole content of the one test log in the working directory ("" if none).
std::string ReadTestLog();

// Redirects standard output into a temporary file until Take() is called.
class StdoutCapture {
  public:
    StdoutCapture();
    ~StdoutCapture();
    // Everything printed since construction; stops capturing.
    std::string Take();

  private:
    int saved = -1;
    int file = -1;
};

// Replaces standard input by a pipe whose write end the test holds, so keys can
// arrive while the station waits; restores standard input on destruction.
class StdinPipe {
  public:
    StdinPipe();
    ~StdinPipe();
    void Type(const std::string& keys);

  private:
    int saved = -1;
    int writeEnd = -1;
};
