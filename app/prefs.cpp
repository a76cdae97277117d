#include "prefs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Splits on any white space.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size()) {
        while (i < text.size() && blank(text[i])) ++i;
        std::size_t start = i;
        while (i < text.size() && !blank(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

bool ParseInt(std::string_view word, int* value) {
    std::string text(word);
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno != 0 || n < INT_MIN || n > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(n);
    return true;
}

}  // namespace

Prefs ParsePrefs(std::string_view text, bool* complete) {
    Prefs prefs;
    std::vector<std::string_view> words = Words(text);
    std::string* header[] = {&prefs.serial, &prefs.initials, &prefs.stamp};
    std::size_t i = 0;
    for (; i < 3 && i < words.size(); ++i) *header[i] = std::string(words[i]);
    if (complete) *complete = words.size() >= 3;
    for (; i + 1 < words.size(); i += 2) {
        PrefsCounter counter{std::string(words[i]), 0};
        if (!ParseInt(words[i + 1], &counter.number)) break;
        // Only a serial number's first counter line counts; a later one (a
        // hand-edited or merged file) is dropped, so every rewrite keeps one
        // line per serial number and a program run keeps one log.
        auto same = [&](const PrefsCounter& c) { return c.serial == counter.serial; };
        if (std::none_of(prefs.counters.begin(), prefs.counters.end(), same))
            prefs.counters.push_back(counter);
    }
    return prefs;
}

std::string FormatPrefs(const Prefs& prefs) {
    std::string text = prefs.serial + "\n" + prefs.initials + "\n" + prefs.stamp + "\n";
    for (const PrefsCounter& counter : prefs.counters) {
        text += counter.serial + "\t" + std::to_string(counter.number) + "\n";
    }
    return text;
}

std::string DateStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%2.2d%2.2d%2.2d", (local.tm_year % 100 + 100) % 100,
                  local.tm_mon + 1, local.tm_mday);
    return text;
}

std::string LogFileName(const std::string& serial, const std::string& initials, std::time_t when,
                        int sequence) {
    return serial + initials + DateStamp(when) + "_" + std::to_string(sequence) + ".txt";
}

bool UsableIdentity(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= ' ' || u == 127 || c == '/') return false;
    }
    return true;
}

int NextSequence(int n) {
    long long next = (n < 0 ? -static_cast<long long>(n) : n) + 1LL;
    return next > INT_MAX ? INT_MAX : static_cast<int>(next);
}

bool ReplaceFile(const std::string& path, const std::string& content) {
    std::string temporary = path + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            ok = false;
        }
    }
    if (ok && fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(temporary.c_str());
    return ok;
}
