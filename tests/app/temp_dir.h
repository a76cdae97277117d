// Runs a test in a directory of its own, removed afterwards; its files are
// read and written with files.h.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "files.h"

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-app-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::filesystem::current_path(old_);
        std::filesystem::remove_all(path_);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path old_;
};
