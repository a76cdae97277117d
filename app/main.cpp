// zhand-station: the ZorvathHand test station. No arguments; everything lives
// in the working directory. ZHAND_RESULTS names the results store ("off"
// records nothing) and ZHAND_STATION the station's name in it.
#include "form.h"
#include "journal.h"
#include "startup.h"
#include "station.h"
#include "test_table.h"

int main() {
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
    return 0;
}
