#include "record.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_ids.h"

namespace {

using namespace results;

RunStart SampleRun() {
    return RunStart{"8d0e4f0a-1c2b-4d3e-8f40-5a6b7c8d9e0f", "bench-3", "3.0.0", "HND123", "JD",
                    "Multi-Axis", 1500, "2026-12-10T09:53:12.345Z", "HND123JD121026_1.txt"};
}

// Every kind of fact, with and without its optional parts, survives a trip
// through one line of JSON unchanged.
TEST(RecordJson, EveryEntryRoundTrips) {
    Measurement bare{"r", 2, "Minimum velocity", 31, {}, {}, {}, {}, {}};
    Measurement limited{"r", 3, "F1 closed", 15400.5, "counts", 15100.0, {}, "pass", 7};
    Event fault{"r", 4, "2026-12-10T09:53:13.000Z", 3, "F2", "JAMMED OPEN",
                "F2 JAMMED OPEN in cycle 3 at Thu Dec 10 09:53:13 2026"};
    Event note{"r", 5, "2026-12-10T09:53:14.000Z", {}, {}, "FIXED", "quote \" and \\ and \t"};
    const std::vector<Entry> entries = {SampleRun(), bare, limited, fault, note,
                                        RunProgress{"r", 12, 3},
                                        RunEnd{"r", "2026-12-10T10:00:00.000Z", kAborted, 12, 3}};
    for (const Entry& entry : entries) {
        const std::string line = ToJson(entry);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        const std::optional<Entry> back = FromJson(line);
        ASSERT_TRUE(back.has_value()) << line;
        EXPECT_EQ(ToJson(*back), line);
        EXPECT_EQ(back->index(), entry.index());
    }
    const auto back = FromJson(ToJson(limited));
    const auto& m = std::get<Measurement>(*back);
    EXPECT_EQ(m.unit, "counts");
    EXPECT_EQ(m.low, 15100.0);
    EXPECT_FALSE(m.high.has_value());
    EXPECT_EQ(m.cycle, 7);
}

// A byte that is not UTF-8 (typed into a serial number, or from the hand)
// must not cost the record.
TEST(RecordJson, InvalidUtf8IsReplacedNotLost) {
    RunStart run = SampleRun();
    run.serial = "HND\xff\x01";
    const std::string line = ToJson(run);
    const auto back = FromJson(line);
    ASSERT_TRUE(back.has_value()) << line;
    EXPECT_EQ(std::get<RunStart>(*back).serial.substr(0, 3), "HND");
}

TEST(RecordJson, LinesThatAreNoEntryAreRefused) {
    const char* lines[] = {
        "",
        "{",
        "[]",
        "42",
        R"({"type":"run"})",
        R"({"type":"teleport","run":"r"})",
        R"({"type":"progress","run":"r","cycles_done":"many","errors":0})",
        R"({"type":"measurement","run":"r","seq":1,"name":"x"})",
        R"({"type":"end","run":"r","ended":"t","outcome":"pass","cycles_done":1,"err)",
    };
    for (const char* line : lines) EXPECT_FALSE(FromJson(line).has_value()) << line;
}

TEST(RecordVerdict, LimitsDecide) {
    struct Case {
        double value;
        std::optional<double> low, high;
        std::optional<std::string> verdict;
    };
    const Case cases[] = {
        {5, {}, {}, std::nullopt},  {15100, 15100.0, {}, "pass"}, {15099, 15100.0, {}, "fail"},
        {500, {}, 500.0, "pass"},   {501, {}, 500.0, "fail"},     {3, 1.0, 3.0, "pass"},
        {0.5, 1.0, 3.0, "fail"},    {3.5, 1.0, 3.0, "fail"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Verdict(c.value, c.low, c.high), c.verdict) << c.value;
    }
}

TEST(RunIds, UuidsAreVersion4AndDistinct) {
    const std::string a = NewRunUuid();
    const std::string b = NewRunUuid();
    EXPECT_NE(a, b);
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '4');
    EXPECT_NE(std::string("89ab").find(a[19]), std::string::npos);
}

// Stations started from one parent (a launcher, a test) draw their own uuids.
TEST(RunIds, ForkedStationsDrawDifferentUuids) {
    const std::string parent = NewRunUuid();
    std::string children[2];
    for (std::string& child : children) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const std::string uuid = NewRunUuid();
            _exit(write(pipeFds[1], uuid.data(), uuid.size()) == 36 ? 0 : 1);
        }
        close(pipeFds[1]);
        char text[36];
        EXPECT_EQ(read(pipeFds[0], text, sizeof text), 36);
        close(pipeFds[0]);
        waitpid(pid, nullptr, 0);
        child.assign(text, sizeof text);
    }
    EXPECT_NE(children[0], children[1]);
    EXPECT_NE(children[0], parent);
    EXPECT_NE(NewRunUuid(), children[0]);
}

TEST(RunIds, IsoTimeHasMillisecondsInUtc) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(930779348007));
    EXPECT_EQ(IsoTime(when), "1999-06-30T21:49:08.007Z");
}

}  // namespace
