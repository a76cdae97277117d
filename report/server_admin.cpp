#include "server_admin.h"

#include <termios.h>
#include <unistd.h>

#include <optional>

#include "pg_connection.h"
#include "server_access.h"
#include "server_logins.h"
#include "server_schema.h"
#include "server_uri.h"
#include "store.h"

namespace report {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
// The owner's statements may wait for stations' transactions to end.
constexpr int kTimeoutMs = 60000;
// PostgreSQL's SQLSTATE for a privilege the login lacks.
constexpr const char* kInsufficientPrivilege = "42501";

constexpr const char* kHelp =
    "usage: zhand-report server init [--results URI]\n"
    "       zhand-report server add-station NAME [--results URI]\n"
    "       zhand-report server add-reader NAME [--results URI]\n"
    "\n"
    "Sets up the shared server; run by the database's owner (URI names the server\n"
    "and that login; default $ZHAND_RESULTS).\n"
    "  init         creates or migrates the results store and the group roles\n"
    "               zhand_station and zhand_reader with their grants and row-level\n"
    "               security; running it again changes nothing\n"
    "  add-station  a login for the station whose ZHAND_STATION is NAME: it adds and\n"
    "               closes only runs of that name\n"
    "  add-reader   a login for reports (export, summary, html, serve): it reads only\n"
    "The password of a new login is read from standard input (asked twice on a\n"
    "terminal); running add-station or add-reader again gives the login a new one.\n"
    "The URI's own password is best kept in ~/.pgpass or PGPASSFILE.\n";

struct ServerArguments {
    std::string action;
    std::string name;
    std::optional<std::string> results;
    bool help = false;
};

int Usage(std::ostream& err, const std::string& message) {
    err << "zhand-report: server: " << message << "\nTry 'zhand-report server --help'.\n";
    return kUsage;
}

std::optional<int> Parse(const std::vector<std::string>& args, ServerArguments* a,
                         std::ostream& err) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            a->help = true;
        } else if (arg == "--results" || arg.starts_with("--results=")) {
            if (a->results) return Usage(err, "--results given twice");
            if (arg != "--results") {
                a->results = arg.substr(arg.find('=') + 1);
            } else if (i + 1 < args.size()) {
                a->results = args[++i];
            } else {
                return Usage(err, "--results needs a value");
            }
        } else if (arg.starts_with("-") && arg != "-") {
            return Usage(err, "unknown option '" + arg + "'");
        } else {
            words.push_back(arg);
        }
    }
    if (a->help) return std::nullopt;
    if (words.empty()) return Usage(err, "needs init, add-station or add-reader");
    a->action = words[0];
    const bool named = a->action == "add-station" || a->action == "add-reader";
    if (!named && a->action != "init") return Usage(err, "unknown action '" + a->action + "'");
    if (named && words.size() < 2) return Usage(err, a->action + " needs a NAME");
    if (words.size() > (named ? 2u : 1u)) {
        return Usage(err, "unexpected argument '" + words[named ? 2 : 1] + "'");
    }
    if (named) a->name = words[1];
    return std::nullopt;
}

// One line of `in`, without its line end; false at the end of the input.
bool ReadLine(std::istream& in, std::string* line) {
    if (!std::getline(in, *line)) return false;
    if (line->ends_with('\r')) line->pop_back();
    return true;
}

// The new login's password: from a terminal asked twice without echo,
// else the first line of standard input.
bool ReadPassword(const std::string& name, std::istream& in, std::ostream& err,
                  std::string* password, std::string* error) {
    termios saved{};
    const bool terminal =
        &in == &std::cin && isatty(STDIN_FILENO) != 0 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (!terminal) {
        if (!ReadLine(in, password) || password->empty()) {
            *error = "no password on standard input (one line)";
            return false;
        }
        return true;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::string again;
    err << "Password for " << name << ": " << std::flush;
    const bool first = ReadLine(in, password);
    err << "\nAgain: " << std::flush;
    const bool second = first && ReadLine(in, &again);
    err << "\n";
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!second || password->empty()) {
        *error = "no password given";
        return false;
    }
    if (again != *password) {
        *error = "the two passwords differ";
        return false;
    }
    return true;
}

int Fail(std::ostream& err, const std::string& action, const std::string& message) {
    err << "zhand-report: server " << action << ": " << message << "\n";
    return kFailed;
}

}  // namespace

int ServerCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err) {
    ServerArguments a;
    if (std::optional<int> status = Parse(args, &a, err)) return *status;
    if (a.help) {
        out << kHelp;
        return 0;
    }
    const std::string uri = a.results.value_or(DefaultStoreName());
    if (!results::IsServerUri(uri)) {
        return Fail(err, a.action,
                    "--results " + ShownStoreName(uri) + ": not a server (postgresql://...)");
    }
    std::string password;
    std::string error;
    if (a.action != "init" && !ReadPassword(a.name, in, err, &password, &error)) {
        return Fail(err, a.action, error);
    }
    const std::string where = results::ServerAddress(uri);
    auto owner = results::PgConnection::Connect(uri, {kTimeoutMs, -1}, &error);
    if (owner == nullptr) return Fail(err, a.action, where + ": " + error);
    bool ok = false;
    if (a.action == "init") {
        results::InitOutcome outcome;
        ok = results::InitServer(*owner, &outcome, &error);
        if (ok) {
            out << "server " << where << ": schema " << outcome.after;
            if (outcome.before == outcome.after) {
                out << " (already)";
            } else if (outcome.before > 0) {
                out << " (migrated from " << outcome.before << ")";
            }
            out << ", roles " << results::kStationRole << " and " << results::kReaderRole
                << " with their grants and policies\n";
        }
    } else {
        const bool station = a.action == "add-station";
        ok = results::AddLogin(*owner,
                               station ? results::LoginKind::Station : results::LoginKind::Reader,
                               a.name, password, &error);
        if (ok) {
            out << "server " << where << ": login " << a.name << " in "
                << (station ? results::kStationRole : results::kReaderRole) << "\n";
        }
    }
    if (ok) return 0;
    if (owner->State() == kInsufficientPrivilege) {
        error += " (run it as the database's owner, who may create roles)";
    }
    return Fail(err, a.action, where + ": " + error);
}

}  // namespace report
