// Reads a results store the way an engineer at the sqlite3 prompt would, on
// top of results_db.h's QueryStore.
#pragma once

#include "results_db.h"

using QueryRows = StoreRows;

// The single value of a one-row, one-column query ("" when there is none).
inline std::string QueryValue(const std::string& path, const std::string& sql) {
    const StoreRows rows = QueryStore(path, sql);
    return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "";
}
