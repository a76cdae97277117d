// The preferences file's content and the names it gives: pure helpers behind
// LoadPrefs, SavePrefs and OpenTestLog.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kPrefsFile = "Prefs.dat";
inline constexpr const char* kDefaultSerialNumber = "HND000";
inline constexpr const char* kDefaultInitials = "--";

// One counter line: the number of the log last used for a serial number on
// the stamp's day; negative when an earlier program run used it.
struct PrefsCounter {
    std::string serial;
    int number = 0;
    bool operator==(const PrefsCounter&) const = default;
};

struct Prefs {
    std::string serial;
    std::string initials;
    std::string stamp;
    std::vector<PrefsCounter> counters;
};

// Reads the file's words: three header words, then (word, number) pairs up to
// the end or up to the first pair whose number is not a 32-bit decimal
// integer; of several pairs for one serial number only the first is kept.
// Header words that are missing stay empty; *complete (when given)
// says whether all three were there.
Prefs ParsePrefs(std::string_view text, bool* complete = nullptr);
// The file's text: the header lines, then one "serial<TAB>number" line each.
std::string FormatPrefs(const Prefs& prefs);
// The local date of `when` as yymmdd.
std::string DateStamp(std::time_t when);
// "<serial><initials><yymmdd>_<sequence>.txt" with the local date of `when`.
std::string LogFileName(const std::string& serial, const std::string& initials, std::time_t when,
                        int sequence);
// True when a text can be a serial number or initials: not empty, no blank,
// no "/", no control character.
bool UsableIdentity(std::string_view text);
// The next sequence number after counter n: |n| + 1, at most INT_MAX.
int NextSequence(int n);

// Rewrites `path` with `content` through a temporary file and rename(), so
// the file is either the old one or the new one, never half-written.
bool ReplaceFile(const std::string& path, const std::string& content);
