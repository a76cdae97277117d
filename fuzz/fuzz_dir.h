// A private working directory for a fuzz target whose reader takes a file.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// A fresh temporary directory, the working directory only while an input
// runs (libFuzzer itself writes corpus and findings relative to where it
// was started).
class FuzzDir {
  public:
    static FuzzDir& Get() {
        static FuzzDir* dir = new FuzzDir();
        return *dir;
    }
    const std::filesystem::path& Path() const { return path_; }

    // Empties the directory and works in it for the life of the object.
    class Inside {
      public:
        Inside() : previous_(std::filesystem::current_path()) {
            FuzzDir& dir = Get();
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                std::filesystem::remove_all(entry.path());
            std::filesystem::current_path(dir.Path());
        }
        ~Inside() { std::filesystem::current_path(previous_); }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

      private:
        std::filesystem::path previous_;
    };

  private:
    FuzzDir() {
        // In memory where there is a tmpfs: the readers' files are rewritten
        // (and synced) on every input.
        std::error_code error;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::string pattern = (base / "zhand-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
        std::atexit([] { std::filesystem::remove_all(FuzzDir::Get().Path()); });
    }
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
