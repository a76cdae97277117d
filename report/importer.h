// zhand-report import: text logs into the store, each file whole or not at
// all. The serial number and initials come from the file's name, split by
// the serial numbers that a Prefs.dat beside it lists (or by --serial).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sqlite_store.h"

namespace report {

struct ImportResult {
    bool ok = false;
    int runs = 0;         // runs in the file
    int added = 0;        // of them, new to the store
    std::string message;  // when not ok: one line, "FILE:LINE: what"
};

class Importer {
  public:
    Importer(results::SqliteStore& store, std::optional<std::string> serial)
        : store_(store), serial_(std::move(serial)) {}

    // Reads one file into the store's open group (whole or not at all).
    ImportResult Import(const std::string& path);

    // Files are stored in groups of this many, each group one commit.
    static constexpr int kFilesPerCommit = 500;
    // Starts a group; commits it: false with *error when the group could not
    // be stored (none of its files is then in the store).
    bool Begin(std::string* error) { return store_.BeginGroup(error); }
    bool Commit(std::string* error) { return store_.CommitGroup(error); }

  private:
    const std::vector<std::string>& SerialsBeside(const std::string& directory);
    bool Known(const std::string& uuid);

    results::SqliteStore& store_;
    std::optional<std::string> serial_;
    std::map<std::string, std::vector<std::string>> prefsSerials_;  // by directory
};

// Files larger than this are not test logs.
inline constexpr std::size_t kMaxLogBytes = 64u << 20;

}  // namespace report
