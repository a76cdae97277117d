// Reads a results store the way an engineer at the sqlite3 prompt would: one
// query, every row as text ("NULL" for a null), on a connection of its own.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

using QueryRows = std::vector<std::vector<std::string>>;

inline QueryRows QueryStore(const std::string& path, const std::string& sql) {
    QueryRows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {{"cannot open " + path}};
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        rows.push_back({std::string("bad query: ") + sqlite3_errmsg(db)});
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const unsigned char* text = sqlite3_column_text(stmt, i);
                row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "NULL");
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// The single value of a one-row, one-column query ("" when there is none).
inline std::string QueryValue(const std::string& path, const std::string& sql) {
    const QueryRows rows = QueryStore(path, sql);
    return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "";
}
