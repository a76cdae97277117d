// A station for the in-process tests: the test program's one hand, a console
// and a clock over the seams, a recorder (text logs only, or into a journal),
// a test table and an identity, put together as `main` puts them.
#pragma once

#include "recorder.h"
#include "station.h"

// The driver opens one port per process: a test program keeps one hand for
// its life, and every station of it drives that hand.
inline ZHand& ProgramHand() {
    static ZHand hand;
    return hand;
}

struct TestStation {
    explicit TestStation(results::Journal* journal = nullptr, ZHand& hand = ProgramHand())
        : recorder(journal), station(hand, console, clock, recorder, tests, identity) {}

    Console console;
    Clock clock;
    Recorder recorder;
    TestTable tests;
    Identity identity;
    Station station;
};
