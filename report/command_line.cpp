#include "command_line.h"

#include <algorithm>
#include <cstring>

#include "server_uri.h"

namespace report {

namespace {

constexpr const char* kOption = "--results";

// Writes the masked URI over `uri` (at most as long as it was; what is left
// over becomes NULs). True when `uri` held a password.
bool Hide(char* uri) {
    const std::string given = uri;
    if (!results::IsServerUri(given) || !results::HasPassword(given)) return false;
    const std::string masked = results::MaskedUri(given);
    const std::size_t size = std::strlen(uri);
    const std::size_t kept = std::min(size, masked.size());
    std::memcpy(uri, masked.data(), kept);
    std::memset(uri + kept, 0, size - kept);
    return true;
}

}  // namespace

std::vector<std::string> TakeArguments(int argc, char** argv, std::ostream& err) {
    std::vector<std::string> args(argv, argv + argc);
    bool hidden = false;
    const std::size_t prefix = std::strlen(kOption);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kOption) == 0 && i + 1 < argc) {
            hidden = Hide(argv[++i]) || hidden;
        } else if (std::strncmp(argv[i], kOption, prefix) == 0 && argv[i][prefix] == '=') {
            hidden = Hide(argv[i] + prefix + 1) || hidden;
        }
    }
    if (hidden) {
        err << "zhand-report: warning: a password on the command line can be seen by other"
               " users; keep it in ~/.pgpass, PGPASSFILE or a pg_service.conf service\n";
    }
    return args;
}

}  // namespace report
