#include "store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "journal.h"
#include "server_uri.h"

namespace report {

namespace {

// How long the import waits for the station's write lock.
constexpr int kBusyTimeoutMs = 2000;

// The file `name` refers to, checked: "" with *error set when it names no
// usable file (`mayBeMissing`: a missing file is fine).
std::string CheckedFile(const std::string& name, bool mayBeMissing, std::string* error) {
    if (name == "off") {
        *error = "the results store is \"off\" (ZHAND_RESULTS=off): name one with --results";
        return "";
    }
    const std::string path = StoreFile(name);
    const std::size_t colon = name.find("://");
    if (path.empty() && colon != std::string::npos) {
        *error = "results store " + ShownStoreName(name) + ": stores of the kind \"" +
                 name.substr(0, colon) + "\" are not supported; name a SQLite file" +
                 " or a postgresql:// server";
        return "";
    }
    if (path.empty()) {
        *error = "no results store named";
        return "";
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT || !mayBeMissing) {
            *error = "results store " + path + ": " +
                     (errno == ENOENT ? std::string("no such file") : std::strerror(errno));
            return "";
        }
    } else if (!S_ISREG(info.st_mode)) {
        *error = "results store " + path + ": not a file";
        return "";
    }
    return path;
}

}  // namespace

std::string DefaultStoreName() {
    return results::StoreFromEnvironment();
}

std::string StoreFile(const std::string& name) {
    std::string path = name;
    if (path.starts_with("sqlite:") || path.starts_with("file:")) {
        path = path.substr(path.find(':') + 1);
        if (path.starts_with("//")) path = path.substr(2);
        return path;
    }
    return path == "off" || path.find("://") != std::string::npos ? "" : path;
}

std::string ShownStoreName(const std::string& name) {
    return results::IsServerUri(name) ? results::MaskedUri(name) : name;
}

std::unique_ptr<results::ResultsReader> OpenReader(const std::string& name, std::string* error) {
    std::string target = name;
    if (!results::IsServerUri(name)) {
        target = CheckedFile(name, false, error);
        if (target.empty()) return nullptr;
    }
    std::string why;
    auto reader = results::OpenResults(target, &why);
    if (reader == nullptr) *error = "results store " + ShownStoreName(target) + ": " + why;
    return reader;
}

std::unique_ptr<results::SqliteStore> OpenImportStore(const std::string& name, std::string* error) {
    if (results::IsServerUri(name)) {
        *error = "import writes to a SQLite file, not to the server " +
                 results::ServerAddress(name) +
                 ": import into a file (--results FILE); the server takes its records from the"
                 " stations";
        return nullptr;
    }
    const std::string path = CheckedFile(name, true, error);
    if (path.empty()) return nullptr;
    std::string why;
    auto store = results::SqliteStore::Open(path, results::SqliteStore::Mode::ReadWrite,
                                            kBusyTimeoutMs, &why);
    if (store == nullptr) *error = "results store " + path + ": " + why;
    return store;
}

}  // namespace report
