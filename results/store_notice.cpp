#include "store_notice.h"

#include <array>
#include <utility>

namespace results {

std::string FitNotice(std::initializer_list<std::string> wordings) {
    for (const std::string& wording : wordings) {
        if (wording.size() <= kNoticeWidth) return wording;
    }
    if (wordings.size() == 0) return {};
    std::string last = *(wordings.end() - 1);
    std::size_t cut = last.rfind(' ', kNoticeWidth - 3);
    if (cut == std::string::npos || cut < kNoticeWidth / 2) cut = kNoticeWidth - 3;
    return last.substr(0, cut) + "...";
}

std::string PlainTrouble(const std::string& why) {
    // SQLite's and the system's words, and what a technician calls them.
    static const std::array<std::pair<const char*, const char*>, 16> kWords = {{
        {"password authentication failed", "wrong password"},
        {"no password supplied", "no password"},
        {"could not translate host name", "unknown host"},
        {"Connection refused", "not answering"},
        {"timeout expired", "no answer"},
        {"permission denied", "not allowed"},
        {"disk is full", "disk full"},
        {"No space left", "disk full"},
        {"readonly database", "read-only"},
        {"Read-only file system", "read-only"},
        {"database is locked", "locked by another program"},
        {"is a directory", "a directory, not a file"},
        {"not a database", "not a results store"},
        {"not a results store", "not a results store"},
        {"malformed", "damaged"},
        {"newer station", "made by a newer station"},
    }};
    for (const auto& [words, plain] : kWords) {
        if (why.find(words) != std::string::npos) return plain;
    }
    if (why.find("unable to open") != std::string::npos ||
        why.find("cannot open") != std::string::npos) {
        return "cannot be opened";
    }
    return why;
}

}  // namespace results
