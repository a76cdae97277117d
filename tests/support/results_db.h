// Reads a results store as SQL users do: the rows of a query, every column as
// text, "NULL" for a null. Opened read-only for each query, so a test sees what
// was committed to the file.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

using StoreRows = std::vector<std::vector<std::string>>;

inline StoreRows QueryStore(const std::string& path, const std::string& sql) {
    StoreRows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {{"cannot open " + path}};
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        rows = {{std::string("bad query: ") + sqlite3_errmsg(db)}};
        sqlite3_close(db);
        return rows;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = rows.emplace_back();
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            const unsigned char* text = sqlite3_column_text(statement, c);
            row.emplace_back(text == nullptr ? "NULL" : reinterpret_cast<const char*>(text));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}
