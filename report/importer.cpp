#include "importer.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log_name.h"
#include "log_parser.h"

namespace report {

namespace {

namespace fs = std::filesystem;

// Reads a whole file; false with *why when it cannot.
bool ReadWhole(const std::string& path, std::size_t limit, std::string* text, std::string* why) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        *why = "no such file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        *why = "not a file";
        return false;
    }
    const auto size = fs::file_size(path, ec);
    if (!ec && size > limit) {
        *why = "too large for a test log (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *why = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) {
        *why = "cannot read";
        return false;
    }
    *text = std::move(content).str();
    return true;
}

}  // namespace

const std::vector<std::string>& Importer::SerialsBeside(const std::string& directory) {
    auto [it, added] = prefsSerials_.try_emplace(directory);
    if (added) {
        std::string text, why;
        if (ReadWhole((fs::path(directory) / "Prefs.dat").string(), 1u << 20, &text, &why))
            it->second = SerialsInPrefs(text);
    }
    return it->second;
}

bool Importer::Known(const std::string& uuid) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(store_.Handle(), "SELECT 1 FROM runs WHERE uuid = ?1", -1, &stmt,
                           nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(stmt, 1, uuid.data(), static_cast<int>(uuid.size()), SQLITE_TRANSIENT);
    const bool known = sqlite3_step(stmt) == SQLITE_ROW;
    sqlite3_finalize(stmt);
    return known;
}

ImportResult Importer::Import(const std::string& path) {
    ImportResult result;
    const fs::path file(path);
    const std::string name = file.filename().string();
    const std::optional<LogName> logName = ParseLogName(name);
    if (!logName) {
        result.message = path + ": not a test log's name (<serial><initials><yymmdd>_<n>.txt)";
        return result;
    }
    std::string text, why;
    if (!ReadWhole(path, kMaxLogBytes, &text, &why)) {
        result.message = path + ": " + why;
        return result;
    }
    const std::string directory = file.has_parent_path() ? file.parent_path().string() : ".";
    const std::optional<Identity> identity =
        SplitIdentity(logName->serialAndInitials, serial_, SerialsBeside(directory));
    if (!identity) {
        result.message = path + ": the name does not begin with the serial number " + *serial_;
        return result;
    }
    const ParsedLog parsed = ParseLog(text, {name, identity->serial, identity->operatorInitials});
    if (parsed.error) {
        result.message =
            path + ":" + std::to_string(parsed.error->line) + ": " + parsed.error->message;
        return result;
    }
    std::vector<results::Entry> entries;
    for (const ImportedRun& run : parsed.runs) {
        if (!Known(run.start.uuid)) ++result.added;
        std::vector<results::Entry> part = EntriesOf(run);
        entries.insert(entries.end(), std::make_move_iterator(part.begin()),
                       std::make_move_iterator(part.end()));
    }
    std::string error;
    if (!store_.ApplyAll(entries, &error)) {
        result.message = path + ": cannot store its runs: " + error;
        result.added = 0;
        return result;
    }
    result.ok = true;
    result.runs = static_cast<int>(parsed.runs.size());
    return result;
}

}  // namespace report
