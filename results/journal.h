// The store side of the recorder: takes every fact of a run and commits it to
// the results store at once. When the store cannot take a fact (a directory,
// read-only, corrupt, locked too long) the fact goes to the unsaved file
// beside it instead, and the next open of a usable store loads that file and
// removes it. Nothing here ever fails a test: problems are reported as text.
#pragma once

#include <memory>
#include <string>

#include "record.h"

namespace results {

struct JournalOptions {
    std::string target;     // the store file; "" or "off" records nothing
    std::string station;    // filled into every RunStart
    std::string software;   // filled into every RunStart
    std::string unsaved;    // "" for "results-unsaved.jsonl" beside the store
    int busyTimeoutMs = 2000;
    // While the store is unusable it is tried again this often, without
    // waiting for a lock (0: at every fact).
    int retryMs = 5000;
};

// The store the environment names: ZHAND_RESULTS, else "results.db";
// "off" turns recording off.
std::string StoreFromEnvironment();
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
    // unsaved file, and each later fact tries the store again.
    bool Open();

    // Records one fact.
    void Put(const Entry& entry);

    // One line for the technician while facts could not be stored ("" when
    // all is well).
    const std::string& Problem() const;
    bool Enabled() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace results
