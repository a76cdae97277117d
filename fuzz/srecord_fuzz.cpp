// The S-record reader fed any text: a record it accepts must encode back to
// the line it came from, and a firmware image it accepts must hold exactly
// the S1 records of the text; anything else is refused with its line.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_check.h"
#include "srecord.h"
#include "text_file.h"

namespace {

std::size_t AddressBytes(char type) {
    switch (type) {
        case '2':
        case '6':
        case '8':
            return 3;
        case '3':
        case '7':
            return 4;
        default:
            return 2;
    }
}

// The canonical text of a record: upper-case hex, count and checksum computed.
std::string Encode(const SRecord& record) {
    std::size_t address = AddressBytes(record.type);
    std::string bytes;
    for (std::size_t i = address; i-- > 0;) bytes += static_cast<char>(record.address >> (8 * i));
    bytes.append(record.data.begin(), record.data.end());
    unsigned sum = static_cast<unsigned>(bytes.size() + 1);
    for (unsigned char c : bytes) sum += c;
    bytes += static_cast<char>(~sum & 0xFF);
    char text[8];
    std::snprintf(text, sizeof text, "S%c%02X", record.type, static_cast<unsigned>(bytes.size()));
    std::string line = text;
    for (unsigned char c : bytes) {
        std::snprintf(text, sizeof text, "%02X", c);
        line += text;
    }
    return line;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimEnd(std::string line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line;
}

bool Blank(const std::string& line) {
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A Ctrl-Z ends the text, as DOS-made files mark their end.
    std::vector<std::string> lines = SplitTextLines(text.substr(0, text.find('\x1a')));
    std::size_t s1 = 0;
    std::size_t bytes = 0;
    int firstBad = 0;
    FirmwareCheck fault = FirmwareCheck::Good;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::optional<SRecord> record = ParseSRecord(lines[i]);
        if (record) {
            FUZZ_CHECK(record->type >= '0' && record->type <= '9' && record->type != '4',
                       "record type %c", record->type);
            std::string encoded = Encode(*record);
            FUZZ_CHECK(encoded == Upper(TrimEnd(lines[i])), "\"%s\" encodes back as \"%s\"",
                       Visible(lines[i]).c_str(), encoded.c_str());
        }
        if (firstBad != 0 || Blank(lines[i])) continue;
        // S1 data must also end below 0x10000: the loader's addresses are 16 bits.
        const bool pastEnd =
            record && record->type == '1' && record->address + record->data.size() > 0x10000;
        if (!record || pastEnd || record->type == '2' || record->type == '3') {
            firstBad = static_cast<int>(i) + 1;
            fault = record && !pastEnd ? FirmwareCheck::WideData : FirmwareCheck::BadRecord;
        } else if (record->type == '1') {
            ++s1;
            bytes += record->data.size();
        }
    }
    FirmwareImage image = ReadFirmwareImage(text);
    FUZZ_CHECK(image.check == fault && image.line == firstBad,
               "check %d at line %d, expected %d at %d", static_cast<int>(image.check), image.line,
               static_cast<int>(fault), firstBad);
    if (fault == FirmwareCheck::Good) {
        FUZZ_CHECK(image.records.size() == s1 && image.totalBytes == bytes,
                   "%zu records of %zu bytes, expected %zu of %zu", image.records.size(),
                   image.totalBytes, s1, bytes);
        for (const SRecord& record : image.records) {
            FUZZ_CHECK(record.type == '1' && record.data.size() <= 252 &&
                           record.address + record.data.size() <= 0x10000,
                       "an S1 record of %zu bytes at %u", record.data.size(), record.address);
        }
    } else {
        FUZZ_CHECK(image.records.empty() && image.totalBytes == 0, "a refused image holds records");
    }
    return 0;
}
