#include "results_reader.h"

#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <thread>

#include "postgres_store.h"
#include "server_uri.h"
#include "sqlite_store.h"

namespace results {

namespace {

using Clock = std::chrono::steady_clock;

// How often a file is looked at for a new commit.
constexpr auto kFilePoll = std::chrono::milliseconds(100);

// Virtual machine steps between looks at a query's deadline.
constexpr int kProgressSteps = 1000;

// Rows a server cursor hands over at a time.
constexpr int kFetchRows = 5000;

// Column c of the current row as text. A REAL is written as the shortest
// text that reads back as the same double (as the server writes one), not
// with SQLite's 15 digits.
void ColumnText(sqlite3_stmt* stmt, int c, std::optional<std::string>* out) {
    switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_NULL:
            out->reset();
            return;
        case SQLITE_FLOAT: {
            char text[32];
            const auto end =
                std::to_chars(text, text + sizeof text, sqlite3_column_double(stmt, c)).ptr;
            out->emplace(text, end);
            return;
        }
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
            out->emplace(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)));
        }
    }
}

class FileReader : public ResultsReader {
  public:
    FileReader(std::unique_ptr<SqliteStore> store, std::string path)
        : store_(std::move(store)), path_(std::move(path)) {}
    Kind StoreKind() const override { return Kind::File; }
    std::string Where() const override { return path_; }

    bool Query(const std::string& sql, std::span<const std::optional<std::string>> params,
               Rows* rows, std::string* error) override {
        rows->clear();
        const bool ok = ForEach(
            sql, params, [&](const Row& row) { rows->push_back(row); }, error);
        if (!ok) rows->clear();
        return ok;
    }

    bool LimitQueries(int ms, std::string*) override {
        limit_ = std::chrono::milliseconds(ms);
        sqlite3_progress_handler(store_->Handle(), ms > 0 ? kProgressSteps : 0,
                                 ms > 0 ? &FileReader::PastDeadline : nullptr, this);
        return true;
    }

    bool ForEach(const std::string& sql, std::span<const std::optional<std::string>> params,
                 const std::function<void(const Row&)>& each, std::string* error) override {
        sqlite3* db = store_->Handle();
        deadline_ = Clock::now() + limit_;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            if (error != nullptr) *error = sqlite3_errmsg(db);
            return false;
        }
        // $1 is a named parameter to SQLite: bound by its name, so that the
        // order they first appear in does not matter.
        for (std::size_t i = 0; i < params.size(); ++i) {
            const std::string name = "$" + std::to_string(i + 1);
            const int index = sqlite3_bind_parameter_index(stmt, name.c_str());
            if (index == 0) continue;
            if (params[i]) {
                sqlite3_bind_text(stmt, index, params[i]->data(),
                                  static_cast<int>(params[i]->size()), SQLITE_TRANSIENT);
            }
        }
        Row row;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            row.resize(static_cast<std::size_t>(sqlite3_column_count(stmt)));
            for (std::size_t c = 0; c < row.size(); ++c) {
                ColumnText(stmt, static_cast<int>(c), &row[c]);
            }
            each(row);
        }
        sqlite3_finalize(stmt);
        if (rc == SQLITE_DONE) return true;
        if (error != nullptr) {
            *error = rc == SQLITE_INTERRUPT
                         ? "query took longer than " + std::to_string(limit_.count()) + " ms"
                         : sqlite3_errmsg(db);
        }
        return false;
    }

    bool WaitForChange(int timeoutMs, std::string* error) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        long long seen = DataVersion(error);
        if (seen < 0) return false;
        if (lastVersion_ < 0) lastVersion_ = seen;
        while (seen == lastVersion_) {
            if (Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(kFilePoll);
            if ((seen = DataVersion(error)) < 0) return false;
        }
        lastVersion_ = seen;
        return true;
    }

  private:
    // SQLite's progress handler: non-zero ends the statement.
    static int PastDeadline(void* self) {
        const auto* reader = static_cast<FileReader*>(self);
        return reader->limit_.count() > 0 && Clock::now() > reader->deadline_ ? 1 : 0;
    }

    // Changes whenever another connection commits to the file.
    long long DataVersion(std::string* error) {
        Rows rows;
        if (!Query("PRAGMA data_version", {}, &rows, error) || rows.size() != 1 || !rows[0][0]) {
            return -1;
        }
        return std::stoll(*rows[0][0]);
    }

    std::unique_ptr<SqliteStore> store_;
    std::string path_;
    long long lastVersion_ = -1;
    std::chrono::milliseconds limit_{0};
    Clock::time_point deadline_{};
};

class ServerReader : public ResultsReader {
  public:
    explicit ServerReader(std::unique_ptr<PostgresStore> store) : store_(std::move(store)) {}
    Kind StoreKind() const override { return Kind::Server; }
    std::string Where() const override { return store_->Address(); }

    bool Query(const std::string& sql, std::span<const std::optional<std::string>> params,
               Rows* rows, std::string* error) override {
        return store_->Query(sql, params, rows, error);
    }

    // Through a cursor in a read-only transaction, a batch of rows at a time.
    // A query run from within another's rows gets a cursor of its own in the
    // same transaction.
    bool ForEach(const std::string& sql, std::span<const std::optional<std::string>> params,
                 const std::function<void(const Row&)>& each, std::string* error) override {
        const bool outermost = openCursors_ == 0;
        if (outermost) deadline_ = Clock::now() + limit_;
        if (outermost && !store_->Query("BEGIN READ ONLY", {}, nullptr, error)) return false;
        const std::string cursor = "zhand_rows" + std::to_string(openCursors_);
        bool ok = store_->Query("DECLARE " + cursor + " NO SCROLL CURSOR FOR " + sql, params,
                                nullptr, error);
        ++openCursors_;
        const std::string fetch = "FETCH " + std::to_string(kFetchRows) + " FROM " + cursor;
        Rows rows;
        while (ok) {
            // Each statement has the server's limit; an endless result has
            // this one.
            if (limit_.count() > 0 && Clock::now() > deadline_) {
                if (error != nullptr)
                    *error = "query took longer than " + std::to_string(limit_.count()) + " ms";
                ok = false;
                break;
            }
            ok = store_->Query(fetch, {}, &rows, error);
            if (!ok || rows.empty()) break;
            for (const Row& row : rows) each(row);
        }
        --openCursors_;
        // A failure in an inner query has aborted the transaction: the
        // outer one's next FETCH fails and ends it.
        if (ok) ok = store_->Query("CLOSE " + cursor, {}, nullptr, error);
        if (!outermost) return ok;
        if (ok) return store_->Query("COMMIT", {}, nullptr, error);
        if (!store_->Broken()) store_->Query("ROLLBACK", {}, nullptr, nullptr);
        return false;
    }

    // The server ends the statement itself: nothing keeps running there.
    bool LimitQueries(int ms, std::string* error) override {
        limit_ = std::chrono::milliseconds(ms);
        return store_->Query("SET statement_timeout = " + std::to_string(ms), {}, nullptr, error);
    }

    bool WaitForChange(int timeoutMs, std::string* error) override {
        if (!listening_) {
            if (!store_->Query(std::string("LISTEN ") + kChangeChannel, {}, nullptr, error)) {
                return false;
            }
            listening_ = true;
        }
        return !store_->Connection().WaitNotification(timeoutMs, error).empty();
    }

  private:
    std::unique_ptr<PostgresStore> store_;
    bool listening_ = false;
    int openCursors_ = 0;
    std::chrono::milliseconds limit_{0};
    Clock::time_point deadline_{};
};

}  // namespace

std::unique_ptr<ResultsReader> OpenResults(const std::string& target, std::string* error) {
    if (IsServerUri(target)) {
        auto store = PostgresStore::Open(target, PostgresStore::Mode::ReadOnly, {}, error);
        if (store == nullptr) return nullptr;
        return std::make_unique<ServerReader>(std::move(store));
    }
    auto store = SqliteStore::Open(target, SqliteStore::Mode::ReadOnly, 2000, error);
    if (store == nullptr) return nullptr;
    return std::make_unique<FileReader>(std::move(store), target);
}

}  // namespace results
