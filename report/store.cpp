#include "store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "journal.h"

namespace report {

namespace {

// How long a reader or the import waits for the station's write lock.
constexpr int kBusyTimeoutMs = 2000;

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

std::unique_ptr<results::SqliteStore> OpenStore(const std::string& name, Access access,
                                                std::string* error) {
    if (name == "off") {
        *error = "the results store is \"off\" (ZHAND_RESULTS=off): name one with --results";
        return nullptr;
    }
    const std::string path = StoreFile(name);
    const std::size_t colon = name.find("://");
    if (path.empty() && colon != std::string::npos) {
        *error = "results store " + name + ": stores of the kind \"" + name.substr(0, colon) +
                 "\" are not supported; name a SQLite file";
        return nullptr;
    }
    if (path.empty()) {
        *error = "no results store named";
        return nullptr;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT || access == Access::Read) {
            *error = "results store " + path + ": " +
                     (errno == ENOENT ? std::string("no such file") : std::strerror(errno));
            return nullptr;
        }
    } else if (!S_ISREG(info.st_mode)) {
        *error = "results store " + path + ": not a file";
        return nullptr;
    }
    std::string why;
    auto store =
        results::SqliteStore::Open(path,
                                   access == Access::Read ? results::SqliteStore::Mode::ReadOnly
                                                          : results::SqliteStore::Mode::ReadWrite,
                                   kBusyTimeoutMs, &why);
    if (store == nullptr) {
        *error = "results store " + path + ": " + why;
        return nullptr;
    }
    return store;
}

}  // namespace report
