// zhand-station: the ZorvathHand test station. No arguments but --help and
// --version; everything lives in the working directory. ZHAND_RESULTS names
// the results store ("off" records nothing) and ZHAND_STATION the station's
// name in it.
#include <cstdio>
#include <cstring>

#include "form.h"
#include "journal.h"
#include "startup.h"
#include "station.h"
#include "test_table.h"

namespace {

constexpr const char* kUsage =
    "Usage: zhand-station\n"
    "The ZorvathHand test station, in a terminal of at least 80x23. It asks for\n"
    "the serial port of the hand (1 to 9: ./COMn in the working directory, else\n"
    "/dev/ttyS<n-1>), then shows the form: the hand's serial number, the\n"
    "technician's initials and the cycle counts of the ten tests. Ctrl-R runs the\n"
    "test under the cursor, Ctrl-A every selected test, Ctrl-T opens terminal\n"
    "mode, Ctrl-Q quits.\n"
    "\n"
    "Files, all in the working directory:\n"
    "  Prefs.dat       the last serial number and initials, the day's log numbers\n"
    "  <serial><initials><yymmdd>_<n>.txt\n"
    "                  the day's test log of a hand\n"
    "  results.db      every run as data: runs, measurements, events (SQLite)\n"
    "  results-unsaved.jsonl\n"
    "                  records the store could not take yet; loaded at the next\n"
    "                  start that can\n"
    "  results-unsaved.bad\n"
    "                  lines of results-unsaved.jsonl that could not be read\n"
    "  Defaults.dat    the hand's factory parameters, for the Parameter Check\n"
    "\n"
    "Environment:\n"
    "  ZHAND_RESULTS   the results store: a file, a postgresql:// URI (the local\n"
    "                  file is then results.db, shipped to the server), or off\n"
    "  ZHAND_LOCAL_RESULTS\n"
    "                  the local file beside a server (default: results.db)\n"
    "  ZHAND_STATION   this station's name in the records (default: host name)\n"
    "\n"
    "Options:\n"
    "  --help          show this text\n"
    "  --version       show the version\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0) {
            std::printf("zhand-station %s\n", ZHAND_VERSION);
            return 0;
        }
        std::fprintf(stderr, "zhand-station: unknown argument %s (see --help)\n", argv[1]);
        return 2;
    }
    results::JournalOptions options;
    options.target = results::StoreFromEnvironment();
    options.station = results::StationFromEnvironment();
    options.software = ZHAND_VERSION;
    // A test's cycles never wait for the disk.
    options.background = true;
    results::Journal journal(options);
    Recorder recorder(&journal);

    ZHand hand;
    Console console;
    Clock clock;
    TestTable tests;
    FillTestTable(tests);
    Identity identity;
    Station station(hand, console, clock, recorder, tests, identity);

    StartUp(station);
    // Opened once the station is up: one that never started leaves no store
    // behind. A store that cannot be used is said on row 21 during the runs.
    journal.Open();
    FormLoop(station);
    journal.Close();
    if (journal.Held() > 0) {
        std::fprintf(stderr, "zhand-station: %zu results could not be stored: %s\n",
                     journal.Held(), journal.Problem().c_str());
        return 1;
    }
    return 0;
}
