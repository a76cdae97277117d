// The store side of the recorder: takes every fact of a run and commits it to
// the results store at once. When the store cannot take a fact (a directory,
// read-only, corrupt, locked too long) the fact goes to the unsaved file
// beside it instead, and the next open of a usable store loads that file and
// removes it. Nothing here ever fails a test: problems are reported as text.
//
// When the target names a PostgreSQL server (postgresql://... or
// postgres://...), the facts are still committed to a local file first, with
// each one queued in its outbox, and a shipper thread copies the outbox to the
// server; the station never waits for the server.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "record.h"

namespace results {

struct JournalOptions {
    // The store file, or the shared server's URI; "" or "off" records nothing.
    std::string target;
    // With a server: the local file ("" for ZHAND_LOCAL_RESULTS, else
    // "results.db").
    std::string local;
    std::string station;   // filled into every RunStart
    std::string software;  // filled into every RunStart
    std::string unsaved;   // "" for "results-unsaved.jsonl" beside the store
    int busyTimeoutMs = 2000;
    // While the store is unusable it is tried again this often, without
    // waiting for a lock (0: at every fact).
    int retryMs = 5000;
    // Shipping to the server: facts per batch, time for a part batch to
    // fill, and the longest pause between tries while it cannot be reached.
    int shipBatch = 1000;
    int shipLingerMs = 100;
    int shipRetryMaxMs = 5000;
    // How long the shipper waits for the server before it counts as out of
    // reach.
    int shipTimeoutMs = 10000;
    // Facts are committed by a writer thread of the journal's own, in the
    // order put, so that the thread that puts them never waits for the disk
    // (a commit takes 0.1 ms or more on a busy machine, several times each
    // cycle). Without it, Put commits before it returns.
    bool background = false;
    // With `background`: measurements and progress put within this many
    // milliseconds of the first go into one commit (0: each wake-up commits
    // what it finds); a process killed meanwhile loses them. A run's start,
    // end and events, and Flush, end the wait at once.
    int gatherMs = 20;
    // Facts kept in memory while nothing on disk can take them: more than a
    // day of a station running its fastest test, a few hundred bytes each.
    // Past it the oldest measurements of the run go, and an event says how
    // many.
    std::size_t heldLimit = 250'000;
};

// The store the environment names: ZHAND_RESULTS, else "results.db";
// "off" turns recording off; a postgresql:// URI names a shared server.
std::string StoreFromEnvironment();
// The local file beside a shared server: ZHAND_LOCAL_RESULTS, else
// "results.db".
std::string LocalStoreFromEnvironment();
// ZHAND_STATION, else the host name.
std::string StationFromEnvironment();

class Journal {
  public:
    explicit Journal(JournalOptions options);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens the store: creates or migrates it, marks runs of this station
    // still "running" as "interrupted", loads the unsaved file. False when the
    // store cannot be used now (Problem() says why); facts then go to the
    // unsaved file, and each later fact tries the store again. With a server,
    // starts shipping (also when the local file cannot be used yet).
    bool Open();

    // Records one fact: committed before Put returns, or with `background`
    // handed to the writer, which commits it at once or within `gatherMs`.
    void Put(Entry entry);
    // Returns once every fact put so far is committed or set aside (at once
    // without `background`).
    void Flush();

    // Stops the writer once everything put is stored or set aside, and tries
    // once more to store what waits in memory. Nothing can be put afterwards.
    void Close();
    // Facts waiting in memory because nothing on disk could take them.
    std::size_t Held() const;

    // One line for the technician while facts could not be stored, or else
    // while the server cannot be reached and until shipping has caught up
    // ("" when all is well). Never the server's password.
    const std::string& Problem() const;
    // The shipping part of Problem() alone ("" without a server).
    std::string ShippingProblem() const;
    bool Enabled() const;
    // The local file facts are committed to ("" when off).
    const std::string& LocalStore() const;
    // Whether facts are shipped to a server.
    bool Shipping() const;

    // Waits up to `timeout` until everything stored so far has been shipped;
    // false if not by then (or without a server). Not for the station's
    // thread during a test: for tools, tests and a tidy exit.
    bool WaitForShipping(std::chrono::milliseconds timeout);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace results
