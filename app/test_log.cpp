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
std::string UsableOr(const std::string& word, const char* fallback) {
    return UsableIdentity(word) ? word : fallback;
}

// Takes the serial number and initials from the file's header.
void TakeIdentity(const Prefs& prefs, Identity& identity) {
    identity.serialNumber = UsableOr(prefs.serial, kDefaultSerialNumber);
    identity.userInitials = UsableOr(prefs.initials, kDefaultInitials);
}

// The file as it should be when it has gone missing: what is in memory, today.
Prefs FreshPrefs(const Identity& identity, std::time_t now) {
    return Prefs{identity.serialNumber, identity.userInitials, DateStamp(now), {}};
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

void LoadPrefs(Station& station) {
    prefsProblem.clear();
    std::string today = DateStamp(CurrentTime());
    TestTable& tests = station.tests;
    for (int t = 1; t <= kTestCount; ++t) {
        if (tests.procs[t] != nullptr) tests.cycles[t] = tests.procs[t](station, -t);
    }

    Identity& identity = station.identity;
    identity = Identity{};
    Prefs prefs;
    switch (ReadPrefsFile(&prefs)) {
        case FileState::Missing:
            if (!ReplaceFile(
                    kPrefsFile,
                    FormatPrefs(Prefs{identity.serialNumber, identity.userInitials, today, {}}))) {
                prefsProblem = "Prefs.dat could not be written; the defaults hold until the end.";
            }
            return;
        case FileState::Unreadable:
            prefsProblem = "Prefs.dat cannot be read; it is left as it is and the defaults hold.";
            return;
        case FileState::Read:
            break;
    }
    TakeIdentity(prefs, identity);
    Prefs tidy{identity.serialNumber, identity.userInitials, prefs.stamp, {}};
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

bool SavePrefs(Identity& identity, int field, const std::string& text) {
    Prefs prefs;
    FileState state = ReadPrefsFile(&prefs);
    if (state == FileState::Read) TakeIdentity(prefs, identity);
    if (state == FileState::Missing) prefs = FreshPrefs(identity, CurrentTime());
    if (prefs.stamp.empty()) prefs.stamp = DateStamp(CurrentTime());
    if (field == 1) identity.serialNumber = text;
    if (field == 2) identity.userInitials = text;
    if (state == FileState::Unreadable) return false;
    prefs.serial = identity.serialNumber;
    prefs.initials = identity.userInitials;
    return ReplaceFile(kPrefsFile, FormatPrefs(prefs));
}

std::FILE* OpenTestLog(Identity& identity, std::string* fileName) {
    std::time_t now = CurrentTime();
    Prefs prefs;
    FileState state = ReadPrefsFile(&prefs);
    if (state == FileState::Read) {
        TakeIdentity(prefs, identity);
        prefs.serial = identity.serialNumber;
        prefs.initials = identity.userInitials;
    } else {
        prefs = FreshPrefs(identity, now);
    }
    const std::string& serialNumber = identity.serialNumber;
    const std::string& userInitials = identity.userInitials;
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
