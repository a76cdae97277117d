// Names, times, uuids and the escaping of text on its way into the page.
#include <gtest/gtest.h>

#include "html_text.h"
#include "local_zone.h"
#include "log_name.h"
#include "name_uuid.h"
#include "time_text.h"

namespace {

using namespace report;

TEST(LogName, ReadsTheStationsNames) {
    struct Case {
        const char* name;
        bool ok;
        std::string front;
        int year, month, day, sequence;
    };
    const Case cases[] = {
        {"HND123AB240615_2.txt", true, "HND123AB", 2024, 6, 15, 2},
        {"HND000--990615_1.txt", true, "HND000--", 2099, 6, 15, 1},
        {"X_7240101_12.txt", true, "X_7", 2024, 1, 1, 12},
        {"240615_1.txt", true, "", 2024, 6, 15, 1},
        {"HND123AB240615_0.txt", false, "", 0, 0, 0, 0},
        {"HND123AB241315_1.txt", false, "", 0, 0, 0, 0},
        {"HND123AB240600_1.txt", false, "", 0, 0, 0, 0},
        {"HND123AB24061_1.txt", false, "", 0, 0, 0, 0},
        {"HND123AB240615_1.log", false, "", 0, 0, 0, 0},
        {"HND123AB240615_.txt", false, "", 0, 0, 0, 0},
        {"HND123AB240615_1234567890.txt", false, "", 0, 0, 0, 0},
        {"results.db", false, "", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<LogName> name = ParseLogName(c.name);
        ASSERT_EQ(name.has_value(), c.ok);
        if (!name) continue;
        EXPECT_EQ(name->serialAndInitials, c.front);
        EXPECT_EQ(name->year, c.year);
        EXPECT_EQ(name->month, c.month);
        EXPECT_EQ(name->day, c.day);
        EXPECT_EQ(name->sequence, c.sequence);
    }
}

TEST(LogName, SplitsTheSerialNumberFromTheInitials) {
    struct Case {
        const char* label;
        std::string front;
        std::optional<std::string> serial;
        std::vector<std::string> known;
        std::optional<Identity> want;
    };
    const Case cases[] = {
        {"listed serial", "HND123AB", {}, {"HND000", "HND123"}, Identity{"HND123", "AB"}},
        {"longest listed",
         "HND1234AB",
         {},
         {"HND1", "HND1234", "HND12"},
         Identity{"HND1234", "AB"}},
        {"none listed fits", "ZZ9XY", {}, {"HND123"}, Identity{"ZZ9XY", ""}},
        {"nothing listed", "HND123AB", {}, {}, Identity{"HND123AB", ""}},
        {"given serial wins", "HND123AB", "HND12", {"HND123"}, Identity{"HND12", "3AB"}},
        {"given serial does not fit", "HND123AB", "XYZ", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::optional<Identity> got = SplitIdentity(c.front, c.serial, c.known);
        ASSERT_EQ(got.has_value(), c.want.has_value());
        if (!got) continue;
        EXPECT_EQ(got->serial, c.want->serial);
        EXPECT_EQ(got->operatorInitials, c.want->operatorInitials);
    }
}

TEST(LogName, PrefsDatListsItsSerialNumbers) {
    EXPECT_EQ(SerialsInPrefs("HND123\nAB\n240615\nHND123\t1\nXY7\t-1\n"),
              (std::vector<std::string>{"HND123", "HND123", "XY7"}));
    EXPECT_EQ(SerialsInPrefs("HND000\r\n--\r\n240615\r\n"), (std::vector<std::string>{"HND000"}));
    EXPECT_EQ(SerialsInPrefs(""), (std::vector<std::string>{}));
    EXPECT_EQ(SerialsInPrefs("A B C D"), (std::vector<std::string>{"A", "D"}));
}

class TimeTextTest : public LocalZone {};

TEST_F(TimeTextTest, ReadsTheStationsTimeTextInLocalTime) {
    struct Case {
        const char* text;
        std::optional<std::time_t> when;
    };
    const Case cases[] = {
        {"Thu Dec 10 09:53:12 2026", Utc(2026, 12, 10, 8, 53, 12)},
        {"Mon Jun 15 12:00:00 2026", Utc(2026, 6, 15, 10, 0, 0)},  // summer time
        {"Thu Feb 29 23:59:59 2024", Utc(2024, 2, 29, 22, 59, 59)},
        {"Thu Feb 29 23:59:59 2025", std::nullopt},  // no such day
        {"Fri Dec 10 09:53:12 2026", std::nullopt},  // wrong weekday
        {"Thu Dez 10 09:53:12 2026", std::nullopt},
        {"Thu Dec 10 24:00:00 2026", std::nullopt},
        {"Thu Dec 10 9:53:12 2026", std::nullopt},
        {"Thu Dec 10 09:53:12 2026\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseTimeText(c.text), c.when);
    }
    EXPECT_EQ(IsoUtc(Utc(2026, 12, 10, 8, 53, 12)), "2026-12-10T08:53:12.000Z");
}

TEST(StoreTime, CommandLineDates) {
    struct Case {
        const char* text;
        bool endOfDay;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"2026-12-01", false, "2026-12-01T00:00:00.000Z"},
        {"2026-12-01", true, "2026-12-01T23:59:59.999Z"},
        {"2026-12-01T08:30", false, "2026-12-01T08:30:00.000Z"},
        {"2026-12-01T08:30:15Z", false, "2026-12-01T08:30:15.000Z"},
        {"2026-12-01T08:30:15.250Z", false, "2026-12-01T08:30:15.250Z"},
        {"2026-02-30", false, std::nullopt},
        {"2026-1-01", false, std::nullopt},
        {"yesterday", false, std::nullopt},
        {"2026-12-01T8:30", false, std::nullopt},
        {"2026-12-01 08:30", false, std::nullopt},
        {"2026-12-01T08:30+01:00", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StoreTimeFromArgument(c.text, c.endOfDay), c.want);
    }
}

std::string Hex(const std::array<std::uint8_t, 20>& digest) {
    std::string text;
    char byte[3];
    for (std::uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

TEST(NameUuid, Sha1MatchesTheStandardsExamples) {
    EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(Hex(Sha1(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(NameUuid, SameNameSameVersion5Uuid) {
    const std::string a = ImportedRunUuid("HND123AB261210_1.txt");
    EXPECT_EQ(a, ImportedRunUuid("HND123AB261210_1.txt"));
    EXPECT_NE(a, ImportedRunUuid("HND123AB261210_2.txt"));
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '5');
    EXPECT_NE(std::string("89ab").find(a[19]), std::string::npos);
}

TEST(HtmlText, EscapesMarkupAndRepairsBytes) {
    struct Case {
        std::string text;
        std::string html;
    };
    const Case cases[] = {
        {"HND123", "HND123"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a&b \"c\" 'd'", "a&amp;b &quot;c&quot; &#39;d&#39;"},
        {"tab\tline\n", "tab\tline\n"},
        {std::string("nul\0bell\a", 9),
         "nul\xEF\xBF\xBD"
         "bell\xEF\xBF\xBD"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
        {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"overlong \xC0\xBC", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) EXPECT_EQ(EscapeHtml(c.text), c.html) << c.text;
}

TEST(HtmlText, JsonCannotEndItsScriptElement) {
    const nlohmann::json value = {{"serial", "</script><script>x()</script>"},
                                  {"line",
                                   "a\xE2\x80\xA8"
                                   "b"},
                                  {"bytes", "\xFF"},
                                  {"amp", "&lt;"}};
    const std::string text = JsonForScript(value);
    EXPECT_EQ(text.find('<'), std::string::npos);
    EXPECT_EQ(text.find('>'), std::string::npos);
    EXPECT_EQ(text.find('&'), std::string::npos);
    EXPECT_EQ(text.find("\xE2\x80\xA8"), std::string::npos);
    const nlohmann::json back = nlohmann::json::parse(text);
    EXPECT_EQ(back["serial"], "</script><script>x()</script>");
    EXPECT_EQ(back["line"],
              "a\xE2\x80\xA8"
              "b");
    EXPECT_EQ(back["amp"], "&lt;");
    EXPECT_EQ(back["bytes"], "\xEF\xBF\xBD");
}

}  // namespace
