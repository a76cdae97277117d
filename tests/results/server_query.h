// Reads the shared server as a report would, in a read-only session of its
// own: every row as text, "NULL" for a null.
#pragma once

#include <string>

#include "postgres_store.h"
#include "sqlite_query.h"

inline QueryRows ServerQuery(const std::string& uri, const std::string& sql) {
    using results::PostgresStore;
    std::string error;
    auto reader = PostgresStore::Open(uri, PostgresStore::Mode::ReadOnly, {}, &error);
    if (reader == nullptr) return {{"cannot open: " + error}};
    results::Rows rows;
    if (!reader->Query(sql, {}, &rows, &error)) return {{"bad query: " + error}};
    QueryRows text;
    for (const results::Row& row : rows) {
        std::vector<std::string> cells;
        for (const auto& cell : row) cells.push_back(cell.value_or("NULL"));
        text.push_back(std::move(cells));
    }
    return text;
}
