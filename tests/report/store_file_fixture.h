// A fresh directory per test with a station's store file open in it, for
// the tests that serve or read what a station recorded.
#pragma once

#include <memory>
#include <string>

#include "results_fixture.h"
#include "sqlite_store.h"

class StoreFileTest : public StoreDir {
  protected:
    void SetUp() override {
        StoreDir::SetUp();
        std::string error;
        store_ =
            results::SqliteStore::Open(db, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store_, nullptr) << error;
    }
    void TearDown() override {
        store_.reset();
        StoreDir::TearDown();
    }

    std::unique_ptr<results::SqliteStore> store_;
};
