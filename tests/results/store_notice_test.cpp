// Row 21's notices: shortened by what they say, never cut mid-word, and the
// store's and the server's troubles in a technician's words.
#include "store_notice.h"

#include <gtest/gtest.h>

namespace {

using namespace results;

TEST(StoreNotice, TheFirstWordingThatFitsIsShown) {
    const std::string longest(kNoticeWidth + 1, 'x');
    const std::string fits(kNoticeWidth, 'y');
    EXPECT_EQ(FitNotice({longest, fits, "short"}), fits);
    EXPECT_EQ(FitNotice({"short", fits}), "short");
    // None fits: the last is cut at a word, and says so.
    std::string words;
    while (words.size() < 2 * kNoticeWidth) words += "results held ";
    const std::string cut = FitNotice({longest, words});
    EXPECT_LE(cut.size(), kNoticeWidth);
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
    EXPECT_EQ(words.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);
    EXPECT_NE(cut[cut.size() - 4], ' ');
    EXPECT_EQ(words[cut.size() - 3], ' ');
}

TEST(StoreNotice, TroublesInPlainWords) {
    const struct {
        const char* why;
        const char* plain;
    } cases[] = {
        {"database or disk is full", "disk full"},
        {"attempt to write a readonly database", "read-only"},
        {"database is locked", "locked by another program"},
        {"results store is a directory", "a directory, not a file"},
        {"not a results store: file is not a database", "not a results store"},
        {"database disk image is malformed", "damaged"},
        {"written by a newer station (schema 9)", "made by a newer station"},
        {"cannot open: unable to open database file", "cannot be opened"},
        {"connection to server at \"db\" (10.0.0.5), port 5432 failed: FATAL:  password "
         "authentication failed for user \"line-3\"",
         "wrong password"},
        {"could not translate host name \"dbx\" to address: Name or service not known",
         "unknown host"},
        {"connection to server at \"127.0.0.1\", port 5999 failed: Connection refused",
         "not answering"},
        {"something new", "something new"},
    };
    for (const auto& c : cases) EXPECT_EQ(PlainTrouble(c.why), c.plain) << c.why;
}

}  // namespace
