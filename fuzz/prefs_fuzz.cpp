// The preferences reader fed any file: ParsePrefs and FormatPrefs must agree,
// and the start-up load, the save and the log opening must leave a
// well-formed Prefs.dat behind with usable names whatever the file held.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "fuzz_check.h"
#include "fuzz_dir.h"
#include "prefs.h"
#include "recorder.h"
#include "seams.h"
#include "station.h"
#include "test_log.h"

namespace {

// The station the file operations serve: its identity is what they read and
// write, its table is empty (no test to register).
struct FuzzStation {
    ZHand hand;
    Console console;
    Clock clock;
    Recorder recorder;
    TestTable tests;
    Identity identity;
    Station station{hand, console, clock, recorder, tests, identity};
};

FuzzStation& Context() {
    static FuzzStation context;
    return context;
}

// Noon on 15 June 2024 in UTC: the stamp 240615, which the corpus uses.
constexpr std::time_t kNow = 1718452800;

void CheckRoundTrip(const std::string& text) {
    bool complete = false;
    Prefs prefs = ParsePrefs(text, &complete);
    if (!complete) return;
    std::string formatted = FormatPrefs(prefs);
    bool again = false;
    Prefs reread = ParsePrefs(formatted, &again);
    FUZZ_CHECK(again && reread.serial == prefs.serial && reread.initials == prefs.initials &&
                   reread.stamp == prefs.stamp && reread.counters == prefs.counters,
               "FormatPrefs gives \"%s\", which reads back differently",
               Visible(formatted).c_str());
}

// What every operation must leave: a file that reads whole, with usable names.
Prefs CheckFile(const char* after) {
    bool complete = false;
    std::string text = ReadFile(kPrefsFile);
    Prefs prefs = ParsePrefs(text, &complete);
    FUZZ_CHECK(complete && UsableIdentity(prefs.serial) && UsableIdentity(prefs.initials),
               "after %s Prefs.dat is \"%s\"", after, Visible(text).c_str());
    const Identity& identity = Context().identity;
    FUZZ_CHECK(prefs.serial == identity.serialNumber && prefs.initials == identity.userInitials,
               "after %s the file names %s/%s, memory %s/%s", after, prefs.serial.c_str(),
               prefs.initials.c_str(), identity.serialNumber.c_str(),
               identity.userInitials.c_str());
    FUZZ_CHECK(text == FormatPrefs(prefs), "after %s Prefs.dat is not in its own format: \"%s\"",
               after, Visible(text).c_str());
    return prefs;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    tzset();
    UseFakeClock(kNow);
    FuzzDir::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckRoundTrip(text);

    FuzzDir::Inside inside;
    WriteFile(kPrefsFile, text);
    const std::string today = DateStamp(kNow);
    Identity& identity = Context().identity;
    LoadPrefs(Context().station);
    Prefs loaded = CheckFile("LoadPrefs");
    FUZZ_CHECK(loaded.stamp == today, "LoadPrefs left the stamp %s", loaded.stamp.c_str());
    for (const PrefsCounter& counter : loaded.counters) {
        FUZZ_CHECK(counter.number <= 0, "after a start-up %s still counts %d",
                   counter.serial.c_str(), counter.number);
    }

    std::string name;
    std::FILE* log = OpenTestLog(identity, &name);
    if (log == nullptr) {
        // Only a name the file system refuses (a serial number edited into
        // the file far longer than the form allows) may leave a run without a
        // log; the test then says so on screen.
        FUZZ_CHECK(name.size() > 255, "OpenTestLog gave no log for %s", Visible(name).c_str());
        return 0;
    }
    std::fclose(log);
    Prefs opened = CheckFile("OpenTestLog");
    std::string again;
    log = OpenTestLog(identity, &again);
    if (log != nullptr) std::fclose(log);
    FUZZ_CHECK(log != nullptr && again == name, "the second log is %s, the first %s",
               Visible(again).c_str(), Visible(name).c_str());
    FUZZ_CHECK(ReadFile(kPrefsFile) == FormatPrefs(opened),
               "a second OpenTestLog in one run changed Prefs.dat");

    SavePrefs(identity, 2, "QA");
    Prefs saved = CheckFile("SavePrefs");
    FUZZ_CHECK(saved.initials == "QA" && saved.counters == opened.counters,
               "SavePrefs lost the counters or the initials");
    return 0;
}
