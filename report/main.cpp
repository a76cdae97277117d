// zhand-report: the results store read as JSON Lines, a terminal summary or
// an HTML report, and old text logs imported into it.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "export.h"
#include "html_report.h"
#include "importer.h"
#include "run_ids.h"
#include "serve.h"
#include "serve_users.h"
#include "server_admin.h"
#include "server_uri.h"
#include "stats_lines.h"
#include "store.h"
#include "summary.h"
#include "time_text.h"

namespace {

using namespace report;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: zhand-report [--results STORE] COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  export   the runs as JSON Lines on standard output\n"
    "  html     one self-contained HTML report\n"
    "  import   text logs of the station into the store\n"
    "  serve    the report, a live page of the stations and metrics over HTTP(S)\n"
    "  server   sets up the shared server (init, add-station, add-reader)\n"
    "  stats    figures of each measurement as JSON Lines\n"
    "  summary  a short table of runs, outcomes and yield per test\n"
    "  hash-password  a password from standard input as a line for serve's users file\n"
    "\n"
    "--results STORE names the store: a SQLite file (or sqlite:PATH) or a shared\n"
    "server (postgresql://USER@HOST:PORT/DB, its password in ~/.pgpass or\n"
    "PGPASSFILE); default $ZHAND_RESULTS, else results.db. Only import writes to\n"
    "it, and only to a file.\n"
    "zhand-report COMMAND --help tells more.\n";

constexpr const char* kExportHelp =
    "usage: zhand-report export [--serial S] [--test T] [--since DATE] [--results STORE]\n"
    "\n"
    "Writes one JSON object per run, oldest first, on standard output: the run's\n"
    "fields as the store names them, its \"measurements\" and its \"events\".\n"
    "  --serial S    the runs of unit S only\n"
    "  --test T      the runs of test T only (its name in the test table)\n"
    "  --since DATE  runs started at or after DATE (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC)\n";

constexpr const char* kHtmlHelp =
    "usage: zhand-report html [-o FILE] [--serial S] [--since DATE] [--name NAME]\n"
    "                         [--baseline FROM..TO] [--results STORE]\n"
    "\n"
    "Writes one self-contained HTML file (default report.html; - for standard output)\n"
    "that opens without a network: an overview (runs per day and test by outcome,\n"
    "first-pass yield, the latest 200 units, each measurement's figures) and a\n"
    "section per measurement across units (histogram, X-mR chart of the latest 1000\n"
    "values with the run rules they break, values out of specification, Cp/Cpk from\n"
    "the within sigma, Pp/Ppk from the overall sigma). The figures come from what the\n"
    "store keeps of all values, however many there are. With --serial, the unit's\n"
    "section in full: its runs and plots.\n"
    "  -o FILE              where to write the report\n"
    "  --serial S           unit S only, in full\n"
    "  --since DATE         runs started at or after DATE (UTC)\n"
    "  --name NAME          the measurement NAME alone\n"
    "  --baseline FROM..TO  the natural process limits from the runs of these days\n"
    "                       (UTC dates, both included; default: all of the selection)\n";

constexpr const char* kImportHelp =
    "usage: zhand-report import [--serial S] [--results STORE] FILE...\n"
    "\n"
    "Reads text logs of the station (named <serial><initials><yymmdd>_<n>.txt) into\n"
    "the store, which is created if missing. The serial number ends where one that a\n"
    "Prefs.dat in the log's folder lists ends; else the whole part before the date is\n"
    "the serial number. Each file goes in whole or not at all; importing a file again\n"
    "adds nothing. Times are read in this machine's time zone (set TZ for logs of\n"
    "another). Exits 1 if any file could not be imported.\n"
    "  --serial S   the logs' serial number is S (the rest of the name: the initials)\n";

constexpr const char* kServeHelp =
    "usage: zhand-report serve [--listen ADDR:PORT] [--tls-cert FILE --tls-key FILE]\n"
    "                          [--users FILE] [--host NAME]... [--insecure] [--results STORE]\n"
    "\n"
    "Serves, read-only, until interrupted (Ctrl-C or SIGTERM):\n"
    "  /stations  each station: testing, idle at its form or not seen, and its latest\n"
    "             run's test, serial number, cycle i of N, errors and last fault,\n"
    "             updated live as the stations record them\n"
    "  /report    the HTML report of the store as it is now (?serial=S, ?since=DATE)\n"
    "  /stations.json, /stations/events  the same board as JSON and server-sent events\n"
    "  /metrics   the line's health in Prometheus's text format\n"
    "Only GET and HEAD are answered; nothing over HTTP changes the store.\n"
    "  --listen ADDR:PORT  where to listen (default 127.0.0.1:8080; port 0: any free\n"
    "                      port). Another address than a loopback one needs TLS and\n"
    "                      --users, or --insecure.\n"
    "  --tls-cert FILE     serve HTTPS only, with this certificate (PEM, its chain\n"
    "  --tls-key FILE      after it) and its key (readable by its owner alone)\n"
    "  --users FILE        logins: one name:hash line each (zhand-report hash-password\n"
    "                      makes the hash); the file readable by its owner alone\n"
    "  --host NAME         a name the pages are also reached by (the Host header is\n"
    "                      checked); may be given more than once\n"
    "  --insecure          let another address than a loopback one be served without\n"
    "                      TLS or logins, on a network you trust\n";

constexpr const char* kHashHelp =
    "usage: zhand-report hash-password\n"
    "\n"
    "Reads one password from standard input (not shown when typed at a terminal)\n"
    "and prints its argon2id hash. A line of serve's users file is NAME:HASH.\n"
    "It takes no option but --help.\n";

#define ZHAND_SELECTION_HELP                                                          \
    "  --serial S     unit S only\n"                                                  \
    "  --station N    the runs of station N only\n"                                   \
    "  --test T       the runs of test T only (any case: multi-axis is Multi-Axis)\n" \
    "  --since DATE   runs started at or after DATE (YYYY-MM-DD[THH:MM[:SS]], UTC)\n" \
    "  --until DATE   runs started at or before DATE (a bare date: to its end)\n"     \
    "  --name NAME    measurements of this name only\n"

constexpr const char* kSummaryHelp =
    "usage: zhand-report summary [SELECTION] [--results STORE]\n"
    "\n"
    "Prints runs per test by outcome and the first-pass yield (the share of units\n"
    "whose first run of the test passed). A run the station itself could not finish\n"
    "(error, interrupted) says nothing of the hand: it is counted apart and the\n"
    "unit's next run is its first.\n" ZHAND_SELECTION_HELP;

constexpr const char* kStatsHelp =
    "usage: zhand-report stats [SELECTION] [--results STORE]\n"
    "\n"
    "Writes one JSON object per measurement name on standard output: name, unit,\n"
    "count, mean, sd (overall, the sample standard deviation), sd_within (the mean\n"
    "moving range of each station's values / 1.128), min, max, low, high (the latest\n"
    "limits), out_of_spec (values outside their own limits), cp, cpk (within sigma),\n"
    "pp, ppk (overall sigma), in_control and rules: each run rule the latest values\n"
    "break, with the run's uuid and the point's cycle. Whole days of the line come\n"
    "from the figures the store keeps; a unit or a time within a day from its "
    "rows.\n" ZHAND_SELECTION_HELP;

struct Arguments {
    std::string command;
    std::optional<std::string> results;
    std::optional<std::string> serial;
    std::optional<std::string> test;
    std::optional<std::string> since;
    std::optional<std::string> baseline;
    std::optional<std::string> output;
    std::optional<std::string> listen;
    std::optional<std::string> tlsCert;
    std::optional<std::string> tlsKey;
    std::optional<std::string> users;
    std::vector<std::string> hosts;
    bool insecure = false;
    std::optional<std::string> station;
    std::optional<std::string> until;
    std::optional<std::string> name;
    std::vector<std::string> files;
    bool help = false;
};

int Usage(const std::string& message) {
    std::cerr << "zhand-report: " << message << "\n";
    std::cerr << "Try 'zhand-report --help'.\n";
    return kUsage;
}

int Fail(const std::string& message) {
    std::cerr << "zhand-report: " << message << "\n";
    return kFailed;
}

// Which options each command takes.
bool Takes(const std::string& command, const std::string& option) {
    if (command == "hash-password") return option == "--help";
    if (option == "--results" || option == "--help") return true;
    if (command == "export")
        return option == "--serial" || option == "--test" || option == "--since";
    if (command == "html")
        return option == "--serial" || option == "--since" || option == "--baseline" ||
               option == "-o" || option == "--name";
    if (command == "import") return option == "--serial";
    if (command == "summary" || command == "stats")
        return option == "--serial" || option == "--station" || option == "--test" ||
               option == "--since" || option == "--until" || option == "--name";
    if (command == "serve")
        return option == "--listen" || option == "--tls-cert" || option == "--tls-key" ||
               option == "--users" || option == "--host" || option == "--insecure";
    return false;
}

std::optional<int> Parse(int argc, char** argv, Arguments* a) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool filesOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (filesOnly || arg == "-" || arg.empty() || arg[0] != '-') {
            if (a->command.empty() && !filesOnly) {
                a->command = arg;
                if (a->command != "export" && a->command != "html" && a->command != "import" &&
                    a->command != "serve" && a->command != "summary" && a->command != "stats" &&
                    a->command != "hash-password")
                    return Usage("unknown command '" + arg + "'");
            } else if (a->command == "import") {
                a->files.push_back(arg);
            } else {
                return Usage("unexpected argument '" + arg + "'");
            }
            continue;
        }
        if (arg == "--") {
            filesOnly = a->command == "import";
            if (!filesOnly) return Usage("unexpected argument '--'");
            continue;
        }
        std::optional<std::string> value;
        const std::size_t equals = arg.find('=');
        if (arg.starts_with("--") && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        if (arg == "--help" || arg == "-h") {
            a->help = true;
            continue;
        }
        if (!Takes(a->command, arg)) {
            if (arg == "--results" || arg == "--serial" || arg == "--test" || arg == "--since" ||
                arg == "--baseline" || arg == "-o" || arg == "--listen" || arg == "--station" ||
                arg == "--until" || arg == "--name")
                return Usage(a->command.empty() ? arg + " belongs after a command"
                                                : a->command + " takes no " + arg);
            return Usage("unknown option '" + arg + "'");
        }
        if (arg == "--insecure") {
            if (value) return Usage("--insecure takes no value");
            a->insecure = true;
            continue;
        }
        if (!value) {
            if (i + 1 >= args.size()) return Usage(arg + " needs a value");
            value = args[++i];
        }
        if (arg == "--host") {
            a->hosts.push_back(*value);
            continue;
        }
        std::optional<std::string>* slot = arg == "--results"    ? &a->results
                                           : arg == "--serial"   ? &a->serial
                                           : arg == "--test"     ? &a->test
                                           : arg == "--since"    ? &a->since
                                           : arg == "--baseline" ? &a->baseline
                                           : arg == "--listen"   ? &a->listen
                                           : arg == "--tls-cert" ? &a->tlsCert
                                           : arg == "--tls-key"  ? &a->tlsKey
                                           : arg == "--users"    ? &a->users
                                           : arg == "--station"  ? &a->station
                                           : arg == "--until"    ? &a->until
                                           : arg == "--name"     ? &a->name
                                                                 : &a->output;
        if (*slot) return Usage(arg + " given twice");
        *slot = *value;
    }
    return std::nullopt;
}

// The selection and the report's options from the arguments, checked
// before the store is opened; a usage status when they are wrong.
std::optional<int> Options(const Arguments& a, ReportOptions* options, PageFacts* facts) {
    Selection& selection = options->selection;
    selection.serial = a.serial;
    selection.test = a.test;
    selection.station = a.station;
    selection.name = a.name;
    if (a.until) {
        selection.until = StoreTimeFromArgument(*a.until, true);
        if (!selection.until)
            return Usage("--until " + *a.until +
                         ": not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS])");
    }
    if (a.since) {
        selection.since = StoreTimeFromArgument(*a.since);
        if (!selection.since)
            return Usage("--since " + *a.since +
                         ": not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS])");
    }
    if (a.baseline) {
        const std::size_t dots = a.baseline->find("..");
        if (dots != std::string::npos) {
            options->baselineFrom = StoreTimeFromArgument(a.baseline->substr(0, dots));
            const std::string to = a.baseline->substr(dots + 2);
            if (!to.empty()) options->baselineTo = StoreTimeFromArgument(to, true);
        }
        if (dots == std::string::npos || !options->baselineFrom ||
            (dots + 2 < a.baseline->size() && !options->baselineTo))
            return Usage("--baseline " + *a.baseline +
                         ": expected FROM..TO, two dates (YYYY-MM-DD)");
        facts->baseline = *a.baseline;
    }
    if (a.serial) facts->selection = "unit " + *a.serial;
    if (a.since) facts->selection += (facts->selection.empty() ? "" : ", ") + ("since " + *a.since);
    return std::nullopt;
}

int Export(const ReportOptions& options, results::ResultsReader& store) {
    StoreReader reader(store);
    std::string error;
    if (!WriteExport(reader, options.selection, std::cout, &error)) return Fail(error);
    std::cout.flush();
    if (!std::cout) return Fail("cannot write to standard output");
    return 0;
}

int Summary(const ReportOptions& options, results::ResultsReader& store) {
    StoreReader reader(store);
    std::string error;
    if (!WriteSummary(reader, options.selection, std::cout, &error)) return Fail(error);
    std::cout.flush();
    return std::cout ? 0 : Fail("cannot write to standard output");
}

int Stats(const ReportOptions& options, results::ResultsReader& store) {
    std::string error;
    std::size_t names = 0;
    if (!WriteStats(store, options.selection, std::cout, &names, &error)) return Fail(error);
    std::cout.flush();
    if (!std::cout) return Fail("cannot write to standard output");
    if (names == 0) std::cerr << "zhand-report: no measurements match the selection\n";
    return 0;
}

int Html(const Arguments& a, const ReportOptions& options, PageFacts facts,
         results::ResultsReader& store, const std::string& storeName) {
    const std::string output = a.output.value_or("report.html");
    if (output != "-" && std::filesystem::is_directory(output))
        return Fail(output + ": is a directory");

    Report report;
    StoreReader reader(store);
    std::string error;
    if (!BuildReport(reader, options, &report, &error)) return Fail(error);
    facts.store = ShownStoreName(storeName);
    facts.generatedAt = results::NowIso();
    // A file has no pages beside it: its links go to its own sections.
    facts.unitPages.clear();
    facts.measurementPages.clear();

    if (output == "-") {
        WriteHtml(report, facts, std::cout);
        std::cout.flush();
        return std::cout ? 0 : Fail("cannot write to standard output");
    }
    // Written beside the target and renamed over it: a report is never half there.
    const std::string temporary = output + ".tmp" + std::to_string(getpid());
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) return Fail(output + ": cannot write");
        WriteHtml(report, facts, file);
        file.close();
        if (!file) {
            std::filesystem::remove(temporary);
            return Fail(output + ": cannot write");
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, output, ec);
    if (ec) {
        std::filesystem::remove(temporary);
        return Fail(output + ": " + ec.message());
    }
    long long values = 0;
    for (const MeasurementSeries& series : report.measurements) values += series.process.count;
    std::cout << "wrote " << output << ": " << report.runCount << " runs of " << report.unitCount
              << " units, " << values << " measurements of " << report.measurements.size()
              << " names\n";
    return 0;
}

int Import(const Arguments& a, results::SqliteStore& store) {
    if (a.files.empty()) return Usage("import needs at least one FILE");
    Importer importer(store, a.serial);
    int failed = 0, runs = 0, added = 0;
    // What the open group holds, counted once it is committed.
    int groupFiles = 0, groupRuns = 0, groupAdded = 0;
    bool open = false;
    std::string error;
    const auto commit = [&] {
        open = false;
        if (!importer.Commit(&error)) {
            std::cerr << "zhand-report: cannot store the last " << groupFiles
                      << " files read: " << error << "\n";
            failed += groupFiles;
        } else {
            runs += groupRuns;
            added += groupAdded;
        }
        groupFiles = groupRuns = groupAdded = 0;
    };
    for (std::size_t i = 0; i < a.files.size(); ++i) {
        if (!open && !importer.Begin(&error)) return Fail("cannot write to the store: " + error);
        open = true;
        const ImportResult result = importer.Import(a.files[i]);
        if (!result.ok) {
            std::cerr << "zhand-report: " << result.message << "\n";
            ++failed;
        } else {
            ++groupFiles;
            groupRuns += result.runs;
            groupAdded += result.added;
        }
        if (groupFiles >= Importer::kFilesPerCommit) commit();
    }
    if (open) commit();
    std::cout << "imported " << (a.files.size() - static_cast<std::size_t>(failed)) << " of "
              << a.files.size() << (a.files.size() == 1 ? " file" : " files") << ": " << runs
              << (runs == 1 ? " run" : " runs") << ", " << added << " new to the store\n";
    return failed == 0 ? 0 : kFailed;
}

// One password from standard input, not echoed at a terminal; its hash on
// standard output.
int HashPasswordCommand() {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::cerr << "Password: " << std::flush;
    }
    std::string password;
    const bool read = static_cast<bool>(std::getline(std::cin, password));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::cerr << "\n";
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (!read || password.empty()) return Fail("no password on standard input");
    std::string error;
    const std::optional<std::string> hash = HashPassword(password, &error);
    if (!hash) return Fail(error);
    std::cout << *hash << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A password in --results leaves the process's arguments before anything
    // else is done; the copies are what is read.
    std::vector<std::string> given = TakeArguments(argc, argv, std::cerr);
    if (given.size() > 1 && given[1] == "server") {
        return ServerCommand({given.begin() + 2, given.end()}, std::cin, std::cout, std::cerr);
    }
    std::vector<char*> kept;
    for (std::string& arg : given) kept.push_back(arg.data());
    kept.push_back(nullptr);
    argv = kept.data();
    Arguments a;
    if (std::optional<int> status = Parse(argc, argv, &a)) return *status;
    if (a.help || a.command.empty()) {
        const char* text = a.command == "export"          ? kExportHelp
                           : a.command == "html"          ? kHtmlHelp
                           : a.command == "import"        ? kImportHelp
                           : a.command == "serve"         ? kServeHelp
                           : a.command == "summary"       ? kSummaryHelp
                           : a.command == "stats"         ? kStatsHelp
                           : a.command == "hash-password" ? kHashHelp
                                                          : kUsageText;
        if (!a.help) {
            std::cerr << text;
            return kUsage;
        }
        std::cout << text;
        return 0;
    }
    if (a.command == "hash-password") return HashPasswordCommand();
    ReportOptions options;
    PageFacts facts;
    if (std::optional<int> status = Options(a, &options, &facts)) return *status;
    const std::string storeName = a.results.value_or(DefaultStoreName());
    const bool importing = a.command == "import";
    if (importing && a.files.empty()) return Usage("import needs at least one FILE");
    std::string error;
    if (a.command == "serve") {
        const std::optional<ListenAddress> listen = ParseListen(a.listen.value_or(":8080"));
        if (!listen) return Usage("--listen " + *a.listen + ": expected ADDR:PORT");
        // A file that cannot be read is refused as by every command. A
        // server may be down, or not yet hold a store that the stations'
        // first shipment makes: the page says so until it can be read.
        if (OpenReader(storeName, &error) == nullptr) {
            if (!results::IsServerUri(storeName)) return Fail(error);
            std::cerr << "zhand-report: " << error << "; serving, and trying again\n";
        }
        ServeOptions serve;
        serve.store = storeName;
        serve.listen = *listen;
        serve.tlsCert = a.tlsCert.value_or("");
        serve.tlsKey = a.tlsKey.value_or("");
        serve.users = a.users.value_or("");
        serve.insecure = a.insecure;
        serve.hosts = a.hosts;
        if (const std::string refusal = Refusal(serve); !refusal.empty()) return Usage(refusal);
        return Serve(serve, std::cout, std::cerr);
    }
    if (importing) {
        const bool existed = std::filesystem::exists(StoreFile(storeName));
        auto store = OpenImportStore(storeName, &error);
        if (store == nullptr) return Fail(error);
        if (!existed) std::cout << "created the store " << storeName << "\n";
        return Import(a, *store);
    }
    auto store = OpenReader(storeName, &error);
    if (store == nullptr) return Fail(error);
    if (a.command == "export") return Export(options, *store);
    if (a.command == "summary") return Summary(options, *store);
    if (a.command == "stats") return Stats(options, *store);
    return Html(a, options, facts, *store, storeName);
}
