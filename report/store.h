// Which results store a command works on, and the one place that opens it.
#pragma once

#include <memory>
#include <string>

#include "sqlite_store.h"

namespace report {

// The store a command uses when --results names none: ZHAND_RESULTS, else
// "results.db".
std::string DefaultStoreName();

enum class Access {
    Read,    // an existing store, read-only: every command but import
    Import,  // created when missing, written
};

// The file a store's name or URI refers to ("" for a store that is no file).
std::string StoreFile(const std::string& name);

// Opens the store named by a file name or a URI ("sqlite:PATH" or
// "file:PATH" for a SQLite file; other schemes are refused until a store
// for them exists). nullptr with *error set to one line that says what is
// wrong with the store.
std::unique_ptr<results::SqliteStore> OpenStore(const std::string& name, Access access,
                                                std::string* error);

}  // namespace report
