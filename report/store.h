// Which results store a command works on, and the one place that opens it.
#pragma once

#include <memory>
#include <string>

#include "results_reader.h"
#include "sqlite_store.h"

namespace report {

// The store a command uses when --results names none: ZHAND_RESULTS, else
// "results.db".
std::string DefaultStoreName();

// The file a store's name or URI refers to ("" for a store that is no file).
std::string StoreFile(const std::string& name);

// The store's name as it may be shown: a server's URI without its password.
std::string ShownStoreName(const std::string& name);

// Opens an existing store to read: a SQLite file named by its path or
// "sqlite:PATH" / "file:PATH", or a shared server by its postgresql:// URI.
// nullptr with *error set to one line (never a password) that says what is
// wrong with the store.
std::unique_ptr<results::ResultsReader> OpenReader(const std::string& name, std::string* error);

// Opens the SQLite file that import writes to, created when missing. A
// server is refused: its records come from the stations' shipping.
std::unique_ptr<results::SqliteStore> OpenImportStore(const std::string& name, std::string* error);

}  // namespace report
