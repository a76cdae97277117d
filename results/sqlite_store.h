// The results store in one SQLite file: the tables runs, measurements and
// events (their names and columns are a contract with SQL users and the
// report), created or migrated on open, in WAL mode, every fact committed
// when it is applied. Applying a fact twice changes nothing: runs are keyed
// by uuid, measurements and events by their run and seq. With shipping on,
// every fact stored also goes into the outbox table in the same transaction,
// for the shipper to copy to the shared server.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "outbox.h"
#include "record.h"

struct sqlite3;

namespace results {

// The schema version this station writes (PRAGMA user_version).
inline constexpr int kSchemaVersion = 4;

class SqliteStore {
  public:
    enum class Mode { ReadWrite, ReadOnly };

    // Opens (creating it if needed, in ReadWrite) and migrates the store at
    // `path`; waits up to `busyTimeoutMs` for a lock. nullptr with *error set
    // when the file cannot be used as a store.
    static std::unique_ptr<SqliteStore> Open(const std::string& path, Mode mode, int busyTimeoutMs,
                                             std::string* error);
    ~SqliteStore();
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    // Commits one fact; false with *error when it could not be stored.
    bool Apply(const Entry& entry, std::string* error);
    // Commits all facts or none; inside a group (BeginGroup) they are kept
    // or dropped as a whole and committed with the group. With `skipOrphans`,
    // a fact whose run is not in the store is left out instead of failing the
    // whole (its run was lost before it could be stored).
    bool ApplyAll(std::span<const Entry> entries, std::string* error, bool skipOrphans = false);
    // Gathers the ApplyAll calls until CommitGroup into one transaction, so
    // that many small wholes cost one commit (an import of many files).
    // false with *error when the store cannot be written now.
    bool BeginGroup(std::string* error);
    bool CommitGroup(std::string* error);
    // Marks the runs of `station` still "running" as "interrupted"; returns
    // how many, or -1 on failure.
    int MarkInterrupted(const std::string& station, std::string* error);
    // Sets how long a statement waits for another writer's lock.
    void SetBusyTimeout(int ms);

    // Whether the path this store was opened by still names its file (the
    // same device and inode): a file deleted, or another moved over it,
    // while the station holds it open no longer does.
    bool StillAtPath() const;
    // Lets go of a file the path no longer names without touching whatever
    // the path names now: frames of this file still in the write-ahead log
    // at the path are written back into this file first (so that no other
    // file there can take them for its own), and closing it then neither
    // checkpoints nor removes the log or the shared-memory file. The store
    // can only be destroyed afterwards.
    void Abandon();
    // Appends the facts of run `uuid` as stored (its start, measurements and
    // events in their order, then its progress or end) to *entries; false
    // with *error when they cannot be read. Nothing when there is no such run.
    bool ReadRun(const std::string& uuid, std::vector<Entry>* entries, std::string* error);

    // With shipping on, Apply, ApplyAll and MarkInterrupted also put what
    // they store into the outbox, in the same transaction.
    void SetShipping(bool on) { shipping_ = on; }
    // Reads up to `limit` rows of the outbox, oldest first, into *rows;
    // *lastId is the id of the last row read (also of a row that could not
    // be read, which is left out of *rows), 0 when the outbox is empty.
    bool ReadOutbox(int limit, std::vector<OutboxRow>* rows, long long* lastId, std::string* error);
    // Removes the outbox rows up to and including `lastId`.
    bool DropOutbox(long long lastId, std::string* error);
    // Rows in the outbox, or -1 on failure.
    long long OutboxSize(std::string* error);

    // The open connection, for readers.
    sqlite3* Handle() const { return db_; }

  private:
    SqliteStore(sqlite3* db, std::string path);
    // Notes the device and inode of the file and of its log as they are now.
    void NoteIdentity();
    bool ApplyOne(const Entry& entry, std::string* error);
    // Inserts measurements (every entry one) as one statement.
    bool InsertMeasurements(std::span<const Entry> entries, std::string* error);
    // The row id of the run `uuid`; false with kUnknownRun's text when the
    // store has no such run.
    bool RunId(const std::string& uuid, long long* id, std::string* error);
    bool Queue(const Outgoing& fact, std::string* error);
    bool Exec(const char* sql, std::string* error);

    sqlite3* db_;
    std::string path_;
    // The file's and its write-ahead log's identity at open (0 when unknown).
    unsigned long long dev_ = 0, ino_ = 0, walDev_ = 0, walIno_ = 0;
    bool abandoned_ = false;
    bool shipping_ = false;
    struct Statements;
    std::unique_ptr<Statements> statements_;
};

}  // namespace results
