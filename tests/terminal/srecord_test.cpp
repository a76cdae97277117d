// The pure readers: S-record lines, whole firmware files, text lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "srecord.h"
#include "text_file.h"

namespace {

struct LineCase {
    const char* line;
    bool good;
    char type = 0;
    std::uint32_t address = 0;
    std::size_t dataBytes = 0;
};

const LineCase kLines[] = {
    // Records with known checksums.
    {"S00F000068656C6C6F202020202000003C", true, '0', 0x0000, 12},
    {"S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026", true, '1', 0x0000, 28},
    {"S111003848656C6C6F20776F726C642E0A0042", true, '1', 0x0038, 14},
    {"S111003848656c6c6f20776f726c642e0a0042", true, '1', 0x0038, 14},  // lower-case hex
    {"S111003848656C6C6F20776F726C642E0A0042\r", true, '1', 0x0038, 14},
    {"S111003848656C6C6F20776F726C642E0A0042 \t", true, '1', 0x0038, 14},
    {"S1030000FC", true, '1', 0x0000, 0},  // count 3: no data
    {"S1041234AB0A", true, '1', 0x1234, 1},
    {"S5030003F9", true, '5', 0x0003, 0},
    {"S9030000FC", true, '9', 0x0000, 0},
    {"S204000000FB", true, '2', 0x000000, 0},
    {"S30500000000FA", true, '3', 0x00000000, 0},
    // Refused.
    {"S111003848656C6C6F20776F726C642E0A0043", false},    // checksum off by one
    {"S111003848656C6C6F20776F726C642E0A00", false},      // cut short
    {"S111003848656C6C6F20776F726C642E0A004200", false},  // longer than its count
    {"S111003848656C6C6G20776F726C642E0A0042", false},    // G is no hex digit
    {"S1 1003848656C6C6F20776F726C642E0A0042", false},
    {"S102FD00", false},    // sums right but leaves no room for the checksum
    {"S4030003F9", false},  // reserved type
    {"SA030003F9", false},
    {"s1030000FC", false},
    {" S1030000FC", false},
    {"S1", false},
    {"S", false},
    {"", false},
    {":10010000214601360121470136007EFE09D2190140", false},  // Intel hex
};

TEST(SRecordLine, ParsesWellFormedAndRefusesTheRest) {
    for (const LineCase& c : kLines) {
        SCOPED_TRACE(c.line);
        std::optional<SRecord> record = ParseSRecord(c.line);
        ASSERT_EQ(record.has_value(), c.good);
        if (!c.good) continue;
        EXPECT_EQ(record->type, c.type);
        EXPECT_EQ(record->address, c.address);
        EXPECT_EQ(record->data.size(), c.dataBytes);
    }
}

TEST(SRecordLine, DecodesDataInOrder) {
    std::optional<SRecord> record = ParseSRecord("S111003848656C6C6F20776F726C642E0A0042");
    ASSERT_TRUE(record);
    EXPECT_EQ(std::string(record->data.begin(), record->data.end()),
              std::string("Hello world.\n\0", 14));
}

TEST(SRecordLine, LongestRecordIsWhole) {
    // Count 0xFF: 252 data bytes, all 0x00; checksum 0xFF - (0xFF + 0x12 + 0x34).
    std::string line = "S1FF1234" + std::string(252 * 2, '0');
    unsigned sum = 0xFF + 0x12 + 0x34;
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", 0xFF - (sum & 0xFF));
    std::optional<SRecord> record = ParseSRecord(line + checksum);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->data.size(), 252u);
}

TEST(FirmwareFile, KeepsS1RecordsInOrderAndCountsTheirBytes) {
    const std::string text =
        "S00F000068656C6C6F202020202000003C\r\n"
        "S11F00007C0802A6900100049421FFF07C6C1B787C8C23783C6000003863000026\r\n"
        "\r\n"
        "S11F001C4BFFFFE5398000007D83637880010014382100107C0803A64E800020E9\r\n"
        "   \n"
        "S111003848656C6C6F20776F726C642E0A0042\r\n"
        "S5030003F9\r\n"
        "S9030000FC";  // last line without line end
    FirmwareImage image = ReadFirmwareImage(text);
    ASSERT_EQ(image.check, FirmwareCheck::Good);
    ASSERT_EQ(image.records.size(), 3u);
    EXPECT_EQ(image.records[0].address, 0x0000u);
    EXPECT_EQ(image.records[1].address, 0x001Cu);
    EXPECT_EQ(image.records[2].address, 0x0038u);
    EXPECT_EQ(image.totalBytes, 28u + 28u + 14u);
}

TEST(FirmwareFile, TextEndsAtCtrlZ) {
    const std::string text =
        "S1030000FC\r\n"
        "S111003848656C6C6F20776F726C642E0A0042\r\n"
        "\x1a"
        "S1041234AB0A\r\n";  // after the end of the text: never loaded
    FirmwareImage image = ReadFirmwareImage(text);
    ASSERT_EQ(image.check, FirmwareCheck::Good);
    ASSERT_EQ(image.records.size(), 2u);
    EXPECT_EQ(image.records[1].address, 0x0038u);
    EXPECT_EQ(image.totalBytes, 14u);
}

struct FileCase {
    const char* name;
    std::string text;
    FirmwareCheck check;
    int line;
};

TEST(FirmwareFile, ReportsTheFirstOffendingLine) {
    const FileCase cases[] = {
        {"empty", "", FirmwareCheck::Good, 0},
        {"header and end only", "S00F000068656C6C6F202020202000003C\nS9030000FC\n",
         FirmwareCheck::Good, 0},
        {"bad checksum after a blank line", "S1030000FC\n\nS1041234AB0B\nS1030000FC\n",
         FirmwareCheck::BadRecord, 3},
        {"bad hex digit last, no line end", "S1030000FC\nS1030000FC\nS1041234AX0A",
         FirmwareCheck::BadRecord, 3},
        {"text line", "S1030000FC\nhello\n", FirmwareCheck::BadRecord, 2},
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0",
                     9),
         FirmwareCheck::BadRecord, 1},
        {"data up to 0xFFFF", "S105FFFE0102FA\n", FirmwareCheck::Good, 0},
        {"data beyond 0xFFFF", "S1030000FC\nS106FFFE010203F6\n", FirmwareCheck::BadRecord, 2},
        {"24-bit data", "S1030000FC\nS20501000012E7\n", FirmwareCheck::WideData, 2},
        {"32-bit data", "S3060000100012D7\n", FirmwareCheck::WideData, 1},
        // DOS tools end a text file with Ctrl-Z; nothing after it counts.
        {"Ctrl-Z last", "S1030000FC\r\nS9030000FC\r\n\x1a", FirmwareCheck::Good, 0},
        {"Ctrl-Z right after a record", "S1030000FC\x1a", FirmwareCheck::Good, 0},
        {"anything after Ctrl-Z", "S1030000FC\n\x1a\r\nS1 bad\n\x7f", FirmwareCheck::Good, 0},
        {"bad line before Ctrl-Z", "S1030000FC\nhello\n\x1a", FirmwareCheck::BadRecord, 2},
        {"Ctrl-Z inside a record",
         "S1030000\x1a"
         "FC\n",
         FirmwareCheck::BadRecord, 1},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareImage image = ReadFirmwareImage(c.text);
        EXPECT_EQ(image.check, c.check);
        EXPECT_EQ(image.line, c.line);
        if (c.check != FirmwareCheck::Good) {
            EXPECT_TRUE(image.records.empty());
        }
    }
}

TEST(TextLines, SplitsAsTheStationReadsTextFiles) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"A", {"A"}},
        {"A\n", {"A"}},
        {"\n", {""}},
        {"A\r\nB", {"A", "B"}},
        {"A\n\nB\n", {"A", "", "B"}},
        {" #x\r\n", {" #x"}},
        {"a b  \n", {"a b  "}},
        {"A\rB\n", {"A\rB"}},
        {"A\r", {"A"}},
        {"A\r\r\n", {"A\r"}},
        {std::string("A\0B\n", 4), {std::string("A\0B", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(SplitTextLines(c.text), c.lines);
    }
}

}  // namespace
