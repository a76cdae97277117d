// Whole files read and written as bytes, as the tests compare them.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The bytes of the file, or "" when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Replaces the file with `bytes`.
inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
