#include "test_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "clock.h"
#include "prefs.h"
#include "station.h"

namespace {

enum class FileState { Read, Missing, Unreadable };

FileState ReadPrefsFile(Prefs* prefs) {
    std::ifstream file(kPrefsFile, std::ios::binary);
    if (!file) {
        struct stat info {};
        return stat(kPrefsFile, &info) != 0 && errno == ENOENT ? FileState::Missing
                                                               : FileState::Unreadable;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return FileState::Unreadable;
    *prefs = ParsePrefs(text.str());
    return FileState::Read;
}

// A header word that could not have been typed in the form (a "/" or a
// control character would break or escape a log file name) gives way to the
// default.
std::string Identity(const std::string& word, const char* fallback) {
    return UsableIdentity(word) ? word : fallback;
}

// Takes the serial number and initials from the file's header.
void TakeIdentity(const Prefs& prefs) {
    serialNumber = Identity(prefs.serial, kDefaultSerialNumber);
    userInitials = Identity(prefs.initials, kDefaultInitials);
}

// The file as it should be when it has gone missing: what is in memory, today.
Prefs FreshPrefs(std::time_t now) {
    return Prefs{serialNumber, userInitials, DateStamp(now), {}};
}

std::string prefsProblem;

bool FileExists(const std::string& name) {
    struct stat info {};
    return stat(name.c_str(), &info) == 0;
}

}  // namespace

const std::string& PrefsProblem() {
    return prefsProblem;
}

void LoadPrefs() {
    prefsProblem.clear();
    std::string today = DateStamp(CurrentTime());
    for (int t = 1; t <= kTestCount; ++t) {
        if (testProcs[t] != nullptr) testCycles[t] = testProcs[t](-t);
    }

    serialNumber = kDefaultSerialNumber;
    userInitials = kDefaultInitials;
    Prefs prefs;
    switch (ReadPrefsFile(&prefs)) {
        case FileState::Missing:
            if (!ReplaceFile(kPrefsFile,
                             FormatPrefs(Prefs{serialNumber, userInitials, today, {}}))) {
                prefsProblem = "Prefs.dat could not be written; the defaults hold until the end.";
            }
            return;
        case FileState::Unreadable:
            prefsProblem = "Prefs.dat cannot be read; it is left as it is and the defaults hold.";
            return;
        case FileState::Read:
            break;
    }
    TakeIdentity(prefs);
    Prefs tidy{serialNumber, userInitials, prefs.stamp, {}};
    if (prefs.stamp != today) {
        // The counters belong to another day.
        tidy.stamp = today;
    } else {
        // A restart on the same day: every log number so far is used.
        for (const PrefsCounter& counter : prefs.counters) {
            int used = counter.number > 0 ? -counter.number : counter.number;
            tidy.counters.push_back({counter.serial, used});
        }
    }
    if (!ReplaceFile(kPrefsFile, FormatPrefs(tidy))) {
        prefsProblem = "Prefs.dat could not be rewritten; it is left as it was.";
    }
}

bool SavePrefs(int field, const std::string& text) {
    Prefs prefs;
    FileState state = ReadPrefsFile(&prefs);
    if (state == FileState::Read) TakeIdentity(prefs);
    if (state == FileState::Missing) prefs = FreshPrefs(CurrentTime());
    if (prefs.stamp.empty()) prefs.stamp = DateStamp(CurrentTime());
    if (field == 1) serialNumber = text;
    if (field == 2) userInitials = text;
    if (state == FileState::Unreadable) return false;
    prefs.serial = serialNumber;
    prefs.initials = userInitials;
    return ReplaceFile(kPrefsFile, FormatPrefs(prefs));
}

std::FILE* OpenTestLog(std::string* fileName) {
    std::time_t now = CurrentTime();
    Prefs prefs;
    FileState state = ReadPrefsFile(&prefs);
    if (state == FileState::Read) {
        TakeIdentity(prefs);
        prefs.serial = serialNumber;
        prefs.initials = userInitials;
    } else {
        prefs = FreshPrefs(now);
    }
    if (prefs.stamp.empty()) prefs.stamp = DateStamp(now);

    int sequence = 1;
    bool rewrite = state == FileState::Missing;
    auto mine = prefs.counters.begin();
    while (mine != prefs.counters.end() && mine->serial != serialNumber) ++mine;
    if (mine == prefs.counters.end()) {
        prefs.counters.push_back({serialNumber, 1});
        rewrite = true;
    } else if (mine->number >= 0 &&
               FileExists(LogFileName(serialNumber, userInitials, now, mine->number))) {
        sequence = mine->number;  // this program run's log
    } else {
        sequence = NextSequence(mine->number);
        prefs.counters.erase(mine);
        prefs.counters.push_back({serialNumber, sequence});
        rewrite = true;
    }
    if (rewrite && state != FileState::Unreadable) ReplaceFile(kPrefsFile, FormatPrefs(prefs));

    std::string name = LogFileName(serialNumber, userInitials, now, sequence);
    if (fileName != nullptr) *fileName = name;
    if (!UsableIdentity(serialNumber) || !UsableIdentity(userInitials)) return nullptr;
    std::FILE* log = std::fopen(name.c_str(), "a");
    if (log != nullptr) std::setvbuf(log, nullptr, _IONBF, 0);
    return log;
}
