#include "defaults_file.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#ifndef ZHAND_INSTALLED_DEFAULTS
#define ZHAND_INSTALLED_DEFAULTS "/usr/share/zhand/Defaults.dat"
#endif

namespace {

constexpr const char* kWorkingDefaults = "Defaults.dat";

std::string& InstalledOverride() {
    static std::string path;
    return path;
}

// Anything of that name, a dangling link or an unreadable file too.
bool Present(const std::string& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() !=
           std::filesystem::file_type::not_found;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an optionally signed decimal integer at text[pos]; on success moves
// pos past it. Fails when there are no digits or the value does not fit in
// 32 bits.
bool ReadInt(std::string_view text, std::size_t& pos, int& value) {
    std::size_t i = pos;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !IsDigit(text[i])) return false;
    const std::int64_t limit = negative
                                   ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
                                   : std::numeric_limits<int>::max();
    std::int64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit) return false;
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    pos = i;
    return true;
}

// Splits text into white-space separated words, remembering each word's line.
class WordReader {
  public:
    explicit WordReader(std::string_view text) : text_(text) {}

    // The next word, or nullopt at the end of the text; *line gets its line.
    std::optional<std::string_view> Next(int* line) {
        while (pos_ < text_.size() && IsBlank(text_[pos_])) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
        if (pos_ >= text_.size()) return std::nullopt;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_])) ++pos_;
        *line = line_;
        return text_.substr(start, pos_ - start);
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

bool WordIsInt(std::string_view word, int& value) {
    std::size_t pos = 0;
    return ReadInt(word, pos, value) && pos == word.size();
}

}  // namespace

DefaultsFile ParseDefaults(std::string_view text) {
    DefaultsFile file;
    WordReader words(text);
    int line = 0;
    while (auto name = words.Next(&line)) {
        DefaultsRecord record{std::string(*name), {}, line};
        for (int& value : record.values) {
            int valueLine = 0;
            auto word = words.Next(&valueLine);
            if (!word || !WordIsInt(*word, value)) {
                file.badLine = record.line;
                return file;
            }
        }
        file.records.push_back(std::move(record));
    }
    return file;
}

std::optional<int> FindParameterLine(std::string_view names, std::string_view name) {
    const std::size_t at = names.find(name);
    if (name.empty() || at == std::string_view::npos) return std::nullopt;
    int line = 0;
    for (std::size_t i = 0; i < at; ++i) line += names[i] == '\n';
    return line;
}

std::optional<std::array<int, 4>> ParameterValues(std::string_view values, int line) {
    std::size_t start = 0;
    for (int skipped = 0; skipped < line; ++skipped) {
        const std::size_t newline = values.find('\n', start);
        if (newline == std::string_view::npos) return std::nullopt;
        start = newline + 1;
    }
    const std::string_view text = values.substr(start, values.find('\n', start) - start);
    std::array<int, 4> result{};
    std::size_t pos = 0;
    for (int& value : result) {
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        if (!ReadInt(text, pos, value)) return std::nullopt;
    }
    return result;
}

std::string InstalledDefaultsPath() {
    return InstalledOverride().empty() ? ZHAND_INSTALLED_DEFAULTS : InstalledOverride();
}

void SetInstalledDefaultsPath(std::string path) {
    InstalledOverride() = std::move(path);
}

DefaultsChoice ChooseDefaultsFile() {
    if (Present(kWorkingDefaults)) return {kWorkingDefaults, false};
    const std::string installed = InstalledDefaultsPath();
    if (Present(installed)) return {installed, true};
    return {kWorkingDefaults, false};
}
