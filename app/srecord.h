// Motorola S-record firmware files: one record per line, checked whole before
// any byte of them goes to the hand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// One well-formed record.
struct SRecord {
    char type = 0;                   // '0'..'9' ('4' is never valid)
    std::uint32_t address = 0;       // 16, 24 or 32 bits, by type
    std::vector<std::uint8_t> data;  // the bytes between address and checksum
};

// Parses one line (without its line end; trailing blanks, tabs and CRs are
// ignored). Returns the record when the line is "S", a type digit, a count of
// two hex digits, exactly count bytes as hex pairs (either case), the count
// covers the type's address and the checksum, and the checksum (ones'
// complement of the sum of count, address and data bytes) is right.
std::optional<SRecord> ParseSRecord(std::string_view line);

// What the whole-file check found.
enum class FirmwareCheck {
    Good,       // every line is a record or blank
    BadRecord,  // a line that is not a well-formed record, or S1 data beyond 0xFFFF
    WideData,   // an S2 or S3 data record: the hand's loader takes 16-bit addresses only
};

// A firmware file as it will be sent: its S1 data records in file order.
struct FirmwareImage {
    FirmwareCheck check = FirmwareCheck::Good;
    int line = 0;                  // the first offending line (from 1) unless Good
    std::vector<SRecord> records;  // S1 records; empty unless Good
    std::size_t totalBytes = 0;    // sum of their data lengths
};

// Checks every line of a firmware file's text, which ends at a Ctrl-Z byte
// as files of DOS tools do. Blank lines are skipped; S0, S5..S9 records are
// checked and skipped.
FirmwareImage ReadFirmwareImage(std::string_view text);
