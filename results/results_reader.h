// Read access to a results store for the reports: the local file or the
// shared server, named the way ZHAND_RESULTS names them. The tables and
// columns are the same in both, so one query text serves both when it keeps
// to common SQL; parameters are written $1, $2, ... for either.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "pg_connection.h"

namespace results {

class ResultsReader {
  public:
    enum class Kind { File, Server };

    virtual ~ResultsReader() = default;
    virtual Kind StoreKind() const = 0;
    // The file's path, or the server's "host:port" (never a password).
    virtual std::string Where() const = 0;

    // Runs one query; rows as text, NULL as nullopt. Nothing can be changed
    // through a reader: a statement that would is refused.
    virtual bool Query(const std::string& sql, std::span<const std::optional<std::string>> params,
                       Rows* rows, std::string* error) = 0;
    bool Query(const std::string& sql, Rows* rows, std::string* error) {
        return Query(sql, {}, rows, error);
    }

    // Runs one SELECT and hands its rows to `row` one at a time (the Row is
    // reused between calls), so that a query over a large store needs no
    // room for all its rows at once. A number reads back as the same double
    // from either store.
    virtual bool ForEach(const std::string& sql, std::span<const std::optional<std::string>> params,
                         const std::function<void(const Row&)>& row, std::string* error) = 0;

    // Gives every later query at most `ms` milliseconds (0: no limit); a
    // query that takes longer fails. For servers of pages, where a store
    // made slow (a huge or hostile file, a busy server) must not hold them.
    virtual bool LimitQueries(int ms, std::string* error) = 0;

    // Waits up to `timeoutMs` for a writer to commit something new (the
    // server's notice of a shipment, or a commit to the file); true if one
    // did. The first call starts watching: what was committed before it is
    // not a change. For live pages: query, wait, query again.
    virtual bool WaitForChange(int timeoutMs, std::string* error) = 0;
};

// Opens `target` to read: a postgresql:// or postgres:// URI, else a file
// path. nullptr with *error (one line, no password) when it cannot.
std::unique_ptr<ResultsReader> OpenResults(const std::string& target, std::string* error);

}  // namespace results
