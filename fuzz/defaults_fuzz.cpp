// The defaults-file reader and the parameter-list lookups fed any text: the
// records read must be exactly what the text says, and a lookup never reads
// past the line it was asked for.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "defaults_file.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

void CheckRecords(const std::string& text) {
    DefaultsFile file = ParseDefaults(text);
    std::string formatted;
    int line = 0;
    for (const DefaultsRecord& record : file.records) {
        FUZZ_CHECK(
            !record.name.empty() && record.name.find_first_of(" \t\n\r\v\f") == std::string::npos,
            "record name \"%s\"", Visible(record.name).c_str());
        FUZZ_CHECK(record.line >= 1 && record.line >= line, "record line %d after %d", record.line,
                   line);
        line = record.line;
        formatted += record.name;
        for (int v : record.values) formatted += " " + std::to_string(v);
        formatted += "\n";
    }
    FUZZ_CHECK(file.badLine == 0 || file.badLine >= line, "bad line %d after record line %d",
               file.badLine, line);
    // Written out one record per line, the records read back unchanged.
    DefaultsFile again = ParseDefaults(formatted);
    FUZZ_CHECK(again.badLine == 0 && again.records.size() == file.records.size(),
               "the records of \"%s\" do not read back", Visible(text).c_str());
    for (size_t i = 0; i < file.records.size(); ++i) {
        FUZZ_CHECK(again.records[i].name == file.records[i].name &&
                       again.records[i].values == file.records[i].values &&
                       again.records[i].line == static_cast<int>(i) + 1,
                   "record %zu reads back differently", i);
    }
}

void CheckLookup(const std::string& names, const std::string& values, const std::string& name) {
    std::optional<int> line = FindParameterLine(names, name);
    size_t at = names.find(name);
    if (name.empty() || at == std::string::npos) {
        FUZZ_CHECK(!line, "found \"%s\" that is not there", Visible(name).c_str());
        return;
    }
    FUZZ_CHECK(
        line && *line == static_cast<int>(std::count(names.begin(), names.begin() + at, '\n')),
        "line of \"%s\"", Visible(name).c_str());
    std::optional<std::array<int, 4>> found = ParameterValues(values, *line);
    // The line as a text of its own: sscanf cannot read past it.
    size_t start = 0;
    for (int i = 0; i < *line && start != std::string::npos; ++i) {
        start = values.find('\n', start);
        if (start != std::string::npos) ++start;
    }
    if (start == std::string::npos) {
        FUZZ_CHECK(!found, "values for line %d of a list with fewer lines", *line);
        return;
    }
    std::string text = values.substr(start, values.find('\n', start) - start);
    if (text.find('\0') != std::string::npos) return;  // sscanf would stop there
    // Compare with sscanf only where it is defined: no number of more than 9 digits.
    size_t run = 0;
    for (char c : text) {
        run = (c >= '0' && c <= '9') ? run + 1 : 0;
        if (run > 9) return;
    }
    int v[4] = {};
    int read = std::sscanf(text.c_str(), "%d %d %d %d", &v[0], &v[1], &v[2], &v[3]);
    if (read == 4) {
        FUZZ_CHECK(found && (*found)[0] == v[0] && (*found)[1] == v[1] && (*found)[2] == v[2] &&
                       (*found)[3] == v[3],
                   "values of line \"%s\"", Visible(text).c_str());
    } else {
        FUZZ_CHECK(!found, "four values from line \"%s\"", Visible(text).c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckRecords(std::string(reinterpret_cast<const char*>(data), size));
    FuzzInput input(data, size);
    std::string name = input.RandomLengthString(16);
    std::string names = input.RandomLengthString(2000);
    std::string values = input.RemainingBytes();
    CheckLookup(names, values, name);
    return 0;
}
