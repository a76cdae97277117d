#include "srecord.h"

#include <string>

#include "text_file.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes the hex pair at text[at]; -1 when either digit is not hex.
int HexByte(std::string_view text, std::size_t at) {
    int high = HexDigit(text[at]);
    int low = HexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Bytes of address in a record of the given type; 0 for no such type (S4
// is reserved).
std::size_t AddressBytes(char type) {
    constexpr std::string_view kByType = "2234023432";  // S0 .. S9
    if (type < '0' || type > '9') return 0;
    return static_cast<std::size_t>(kByType[static_cast<std::size_t>(type - '0')] - '0');
}

bool IsBlankEnd(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view TrimEnd(std::string_view line) {
    while (!line.empty() && IsBlankEnd(line.back())) line.remove_suffix(1);
    return line;
}

}  // namespace

std::optional<SRecord> ParseSRecord(std::string_view line) {
    line = TrimEnd(line);
    if (line.size() < 4 || line[0] != 'S') return std::nullopt;
    std::size_t addressBytes = AddressBytes(line[1]);
    if (addressBytes == 0) return std::nullopt;
    int count = HexByte(line, 2);
    if (count < 0 || static_cast<std::size_t>(count) < addressBytes + 1) return std::nullopt;
    if (line.size() != 4 + 2 * static_cast<std::size_t>(count)) return std::nullopt;

    std::vector<std::uint8_t> bytes;  // address, data, checksum
    bytes.reserve(static_cast<std::size_t>(count));
    unsigned sum = static_cast<unsigned>(count);
    for (std::size_t at = 4; at < line.size(); at += 2) {
        int value = HexByte(line, at);
        if (value < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
        sum += static_cast<unsigned>(value);
    }
    // The checksum makes the sum of every byte after the type 0xFF.
    if ((sum & 0xFF) != 0xFF) return std::nullopt;

    SRecord record;
    record.type = line[1];
    for (std::size_t i = 0; i < addressBytes; ++i) record.address = record.address << 8 | bytes[i];
    record.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(addressBytes), bytes.end() - 1);
    return record;
}

FirmwareImage ReadFirmwareImage(std::string_view text) {
    FirmwareImage image;
    int number = 0;
    for (const std::string& line : SplitTextLines(TextBeforeEndMark(text))) {
        ++number;
        if (TrimEnd(line).find_first_not_of(" \t") == std::string_view::npos) continue;
        std::optional<SRecord> record = ParseSRecord(line);
        FirmwareCheck fault = FirmwareCheck::Good;
        // An S1 record's data must fit below 0x10000: the hand's loader
        // would wrap it round to address 0.
        if (!record || (record->type == '1' && record->address + record->data.size() > 0x10000))
            fault = FirmwareCheck::BadRecord;
        else if (record->type == '2' || record->type == '3')
            fault = FirmwareCheck::WideData;
        if (fault != FirmwareCheck::Good) {
            image = FirmwareImage{};
            image.check = fault;
            image.line = number;
            return image;
        }
        if (record->type != '1') continue;
        image.totalBytes += record->data.size();
        image.records.push_back(std::move(*record));
    }
    return image;
}
