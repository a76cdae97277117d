// A fresh directory per test with a station's store file open in it, for
// the tests that serve or read what a station recorded.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "sqlite_store.h"

class StoreFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zhand-serve-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        db_ = (dir_ / "results.db").string();
        std::string error;
        store_ =
            results::SqliteStore::Open(db_, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store_, nullptr) << error;
    }
    void TearDown() override {
        store_.reset();
        std::filesystem::remove_all(dir_);
    }

    std::filesystem::path dir_;
    std::string db_;
    std::unique_ptr<results::SqliteStore> store_;
};
