// The defaults file of expected hand parameters and the hand's parameter
// lists ("FLISTA" names, "FLISTAV" values), read as text by pure functions.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One record of the defaults file: a parameter name and the values expected
// for M1 to M4.
struct DefaultsRecord {
    std::string name;
    std::array<int, 4> values{};
    int line = 0;  // line of the file where the name stands, from 1
};

struct DefaultsFile {
    std::vector<DefaultsRecord> records;  // the good records, in file order
    int badLine = 0;  // > 0: reading ended at a record with fewer than four numbers on this line
};

// Where the Parameter Check reads its expected values: "Defaults.dat" in the
// working directory, or, where the working directory has none, the installed
// copy (ZHAND_INSTALLED_DEFAULTS, under the install prefix). A Defaults.dat
// that is there but cannot be read is still the one chosen: its failure is
// reported, never hidden by the installed copy.
struct DefaultsChoice {
    std::string path;
    bool installed = false;  // the installed copy, not the working directory's
};
DefaultsChoice ChooseDefaultsFile();
// The installed copy's path; SetInstalledDefaultsPath points it elsewhere
// (tests), "" back to the build's.
std::string InstalledDefaultsPath();
void SetInstalledDefaultsPath(std::string path);

// Reads the records of a defaults file: five fields separated by any white
// space (a name, then four signed decimal 32-bit integers). Reading ends at
// the end of the text, or at the first record whose four values are not all
// integers (a word that is not a number, a number out of range, or the end of
// the text after the name); that record's line goes to badLine.
DefaultsFile ParseDefaults(std::string_view text);

// The line index (newlines before it) of the first occurrence of name as a
// plain, case-sensitive substring of the names list; nullopt when absent.
std::optional<int> FindParameterLine(std::string_view names, std::string_view name);

// The four integers at the start of line `line` (counted from 0) of the values
// list, as "%d %d %d %d" would read them but never past that line; nullopt
// when the list has fewer lines or the line fewer than four integers.
std::optional<std::array<int, 4>> ParameterValues(std::string_view values, int line);
