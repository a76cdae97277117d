#include "serve.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "html_report.h"
#include "html_text.h"
#include "report_pages.h"
#include "run_ids.h"
#include "station_board.h"
#include "store.h"
#include "time_text.h"

namespace report {

namespace assets {
extern const std::string_view kReportCss;
extern const std::string_view kStationsJs;
}  // namespace assets

namespace {

using namespace std::chrono_literals;

// How long the watcher waits for a change before it looks again, which
// bounds how long a stop takes.
constexpr int kWatchMs = 500;
// A page's stream hears at least this often that the server is there.
constexpr auto kKeepAlive = 15s;
// Time before the store is tried again when it cannot be opened or read.
constexpr auto kRetry = 1s;
// Connections served at once: each open stations page holds one.
constexpr std::size_t kThreads = 32;

// The board of stations as the pages take it, kept current by a thread of its
// own that waits for the store to change (a notice from the server, a commit
// to the file) and reads the stations again.
class LiveBoard {
  public:
    explicit LiveBoard(std::string store) : store_(std::move(store)) {}
    ~LiveBoard() { Stop(); }

    void Start() {
        watcher_ = std::thread([this] { Watch(); });
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (watcher_.joinable()) watcher_.join();
    }

    // The board's JSON once it is newer than `seen` (or at once if it is);
    // false when `limit` passed first or the board is stopping.
    bool WaitNewer(long long seen, std::chrono::milliseconds limit, std::string* json,
                   long long* version) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return stopping_ || version_ > seen; });
        if (stopping_ || version_ <= seen) return false;
        *json = json_;
        *version = version_;
        return true;
    }
    bool Stopping() {
        std::lock_guard lock(mutex_);
        return stopping_;
    }

  private:
    void Watch() {
        std::unique_ptr<results::ResultsReader> reader;
        while (!Stopping()) {
            std::string error;
            if (reader == nullptr) {
                reader = OpenReader(store_, &error);
                // Watching starts before the first read, so that nothing
                // committed in between is missed.
                if (reader != nullptr && (reader->WaitForChange(0, &error), !error.empty()))
                    reader.reset();
                if (reader == nullptr) {
                    Publish(nlohmann::json{{"stations", nlohmann::json::array()}}, error);
                    Pause();
                    continue;
                }
            }
            std::vector<StationNow> stations;
            if (!ReadStations(*reader, &stations, &error)) {
                reader.reset();
                Publish(nlohmann::json{{"stations", nlohmann::json::array()}},
                        "cannot read the store: " + error);
                Pause();
                continue;
            }
            Publish(StationsJson(stations), "");
            while (!Stopping() && error.empty() && !reader->WaitForChange(kWatchMs, &error)) {
            }
            if (!error.empty()) reader.reset();
        }
    }

    // A board that differs from the last one goes to every page.
    void Publish(nlohmann::json board, const std::string& problem) {
        board["store"] = ShownStoreName(store_);
        board["problem"] = problem;
        std::string json = board.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        {
            std::lock_guard lock(mutex_);
            if (json == json_) return;
            json_ = std::move(json);
            ++version_;
        }
        changed_.notify_all();
    }

    void Pause() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kRetry, [&] { return stopping_; });
    }

    const std::string store_;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::string json_;
    long long version_ = 0;
};

std::string StationsPage(const std::string& store) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>ZorvathHand stations</title>\n<style>\n" +
           std::string(assets::kReportCss) +
           "</style>\n</head>\n<body>\n<header><h1>ZorvathHand stations</h1>\n"
           "<p class=\"facts\">Store " +
           EscapeHtml(store) +
           ", live: <span id=\"link\">connecting</span></p>\n"
           "<nav><a href=\"/stations\">Stations</a><a href=\"/report\">Report</a></nav>\n"
           "</header>\n<main>\n<p id=\"problem\" class=\"note\" hidden></p>\n"
           "<table id=\"stations\"><thead><tr><th>station</th><th>test</th><th>serial</th>"
           "<th>cycle</th><th>errors</th><th>last fault</th><th>state</th><th>started</th>"
           "</tr></thead><tbody></tbody></table>\n"
           "<p id=\"none\" class=\"empty\" hidden>No station has recorded a run yet.</p>\n"
           "</main>\n<script>\n" +
           std::string(assets::kStationsJs) + "\n</script>\n</body>\n</html>\n";
}

// The report of the store as it is now; ?serial=S and ?since=DATE select.
void ServeReport(const std::string& store, const httplib::Request& request,
                 httplib::Response& response) {
    ReportOptions options;
    PageFacts facts;
    if (request.has_param("serial")) {
        options.selection.serial = request.get_param_value("serial");
        facts.selection = "unit " + *options.selection.serial;
    }
    if (request.has_param("since")) {
        const std::string since = request.get_param_value("since");
        options.selection.since = StoreTimeFromArgument(since);
        if (!options.selection.since) {
            response.status = 400;
            response.set_content("since=" + since + ": not a date (YYYY-MM-DD)\n",
                                 "text/plain; charset=utf-8");
            return;
        }
        facts.selection += (facts.selection.empty() ? "" : ", ") + ("since " + since);
    }
    std::string error;
    auto reader = OpenReader(store, &error);
    Report report;
    if (reader != nullptr) {
        StoreReader rows(*reader);
        if (BuildReport(rows, options, &report, &error)) {
            facts.store = ShownStoreName(store);
            facts.generatedAt = results::NowIso();
            std::ostringstream html;
            WriteHtml(report, facts, html);
            response.set_header("Cache-Control", "no-store");
            response.set_content(html.str(), "text/html; charset=utf-8");
            return;
        }
    }
    response.status = 503;
    response.set_content(error + "\n", "text/plain; charset=utf-8");
}

// The board as server-sent events: the board at once, then every newer one.
void ServeEvents(LiveBoard& board, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<long long>(0);
    response.set_chunked_content_provider(
        "text/event-stream", [&board, seen](std::size_t, httplib::DataSink& sink) {
            std::string json;
            long long version = 0;
            if (!board.WaitNewer(*seen, kKeepAlive, &json, &version)) {
                if (board.Stopping()) {
                    sink.done();
                    return true;
                }
                constexpr std::string_view beat = ": still here\n\n";
                return sink.write(beat.data(), beat.size());
            }
            *seen = version;
            const std::string message =
                "id: " + std::to_string(version) + "\nevent: board\ndata: " + json + "\n\n";
            return sink.write(message.data(), message.size());
        });
}

}  // namespace

std::optional<ListenAddress> ParseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    ListenAddress address;
    std::string host = text.substr(0, colon);
    if (host.starts_with('[') && host.ends_with(']')) {
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return std::nullopt;  // IPv6 without brackets
    }
    if (!host.empty()) address.host = host;
    const std::string port = text.substr(colon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), address.port);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || address.port < 0 ||
        address.port > 65535)
        return std::nullopt;
    return address;
}

int Serve(const std::string& store, const ListenAddress& listen, std::ostream& out,
          std::ostream& err) {
    // SIGINT and SIGTERM are taken by this thread alone (sigwait below); the
    // threads started from here inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_keep_alive_timeout(1);
    // SO_REUSEADDR only: the library's default SO_REUSEPORT would let a second
    // serve share the port of a running one instead of saying it is taken.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    LiveBoard board(store);
    const std::string shown = ShownStoreName(store);

    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/stations");
    });
    // Browsers ask for an icon; there is none.
    server.Get("/favicon.ico",
               [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    server.Get("/stations", [&](const httplib::Request&, httplib::Response& response) {
        response.set_header("Cache-Control", "no-store");
        response.set_content(StationsPage(shown), "text/html; charset=utf-8");
    });
    server.Get("/stations.json", [&](const httplib::Request&, httplib::Response& response) {
        std::string json;
        long long version = 0;
        board.WaitNewer(0, 5s, &json, &version);
        response.set_header("Cache-Control", "no-store");
        response.set_content(json, "application/json");
    });
    server.Get("/stations/events", [&](const httplib::Request&, httplib::Response& response) {
        ServeEvents(board, response);
    });
    server.Get("/report", [&](const httplib::Request& request, httplib::Response& response) {
        ServeReport(store, request, response);
    });
    AddReportPages(server, store);
    // Nothing over HTTP changes data.
    const auto refuse = [](const httplib::Request&, httplib::Response& response) {
        response.status = 405;
        response.set_header("Allow", "GET, HEAD");
        response.set_content("read-only: only GET\n", "text/plain; charset=utf-8");
    };
    server.Post(".*", refuse);
    server.Put(".*", refuse);
    server.Patch(".*", refuse);
    server.Delete(".*", refuse);
    server.Options(".*", refuse);

    int port = listen.port;
    const bool bound = port == 0 ? (port = server.bind_to_any_port(listen.host)) > 0
                                 : server.bind_to_port(listen.host, port);
    if (!bound) {
        err << "zhand-report: cannot listen on " << listen.host << ":" << listen.port << "\n";
        return 1;
    }
    board.Start();
    std::thread serving([&] {
        server.listen_after_bind();
        kill(getpid(), SIGTERM);  // ended on its own: the main thread stops too
    });
    const bool v6 = listen.host.find(':') != std::string::npos;
    out << "serving http://" << (v6 ? "[" + listen.host + "]" : listen.host) << ":" << port
        << "/ from " << shown << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    board.Stop();  // open event streams end
    server.stop();
    serving.join();
    out << "stopped" << std::endl;
    return 0;
}

}  // namespace report
