#include "serve.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "html_report.h"
#include "html_text.h"
#include "metrics.h"
#include "report_pages.h"
#include "run_ids.h"
#include "serve_front.h"
#include "serve_policy.h"
#include "serve_users.h"
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
using Clock = std::chrono::steady_clock;

// How long the watcher waits for a change before it reads the board again
// (a station falls silent without any change to the store).
constexpr int kWatchMs = 1000;
constexpr int kWatchSliceMs = 200;
// A page's stream hears at least this often that the server is there.
constexpr auto kKeepAlive = 15s;
// Between these looks the stream sees whether its page has gone.
constexpr auto kStreamLook = 1s;
// Time before the store is tried again when it cannot be opened or read.
constexpr auto kRetry = 1s;
// Every query of the store has this long.
constexpr int kQueryMs = 5000;
// Live streams open at once; the next page is told 503 and tries again.
constexpr int kMostStreams = 400;
// Reports built at once: each holds its report in memory while it is built.
constexpr int kMostReports = 2;
// Headers of one request.
constexpr std::size_t kMostHeaders = 64;
// A missing or wrong login is answered after this.
constexpr auto kLoginDelay = 1s;
// From SIGTERM to the end, whatever the connections and the store do.
constexpr auto kStopWithin = 1500ms;
// Of which the open streams have this long to end as streams do.
constexpr auto kStreamsEnd = 300ms;
constexpr const char* kRealm = "Basic realm=\"ZorvathHand line\", charset=\"UTF-8\"";

// The board of stations as the pages take it, kept current by a thread of its
// own that waits for the store to change (a notice from the server, a commit
// to the file), or a second at most, and reads the stations again. When the
// store cannot be read the last board stays, marked stale with its time and
// the reason.
class LiveBoard {
  public:
    explicit LiveBoard(std::string store) : store_(std::move(store)) {}
    ~LiveBoard() {
        Stop();
        if (watcher_.joinable()) watcher_.join();
    }

    void Start() {
        watcher_ = std::thread([this] { Watch(); });
    }
    // Asks the watcher to end; Stopped() tells when it has.
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
    }
    bool Stopped(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return ended_; });
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
                if (reader != nullptr && (!reader->LimitQueries(kQueryMs, &error) ||
                                          (reader->WaitForChange(0, &error), !error.empty())))
                    reader.reset();
                if (reader == nullptr) {
                    Trouble(error);
                    continue;
                }
            }
            std::vector<StationNow> stations;
            if (!ReadStations(*reader, std::chrono::system_clock::now(), &stations, &error)) {
                reader.reset();
                Trouble("cannot read the store: " + error);
                continue;
            }
            last_ = StationsJson(stations)["stations"];
            lastRead_ = results::NowIso();
            Publish(false, "");
            // In short waits, so that a stop is heard at once.
            for (int waited = 0; waited < kWatchMs && !Stopping() && error.empty();
                 waited += kWatchSliceMs) {
                if (reader->WaitForChange(kWatchSliceMs, &error)) break;
            }
            if (!error.empty()) reader.reset();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    void Trouble(const std::string& why) {
        Publish(true, why);
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kRetry, [&] { return stopping_; });
    }

    // A board that differs from the last one goes to every page.
    void Publish(bool stale, const std::string& problem) {
        nlohmann::json board = {
            {"stations", last_},
            {"store", ShownStoreName(store_)},
            {"problem", problem},
            {"stale", stale},
            {"asOf", lastRead_.empty() ? nlohmann::json(nullptr) : nlohmann::json(lastRead_)}};
        if (!stale) board["asOf"] = nullptr;  // as of now
        std::string json = board.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        {
            std::lock_guard lock(mutex_);
            if (json == json_) return;
            json_ = std::move(json);
            ++version_;
        }
        changed_.notify_all();
    }

    const std::string store_;
    nlohmann::json last_ = nlohmann::json::array();  // the watcher's alone
    std::string lastRead_;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool ended_ = false;
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
           "<table id=\"stations\"><thead><tr><th>station</th><th>state</th><th>test</th>"
           "<th>serial</th><th>cycle</th><th>errors</th><th>last fault</th><th>run</th>"
           "<th>started</th></tr></thead><tbody></tbody></table>\n"
           "<p id=\"none\" class=\"empty\" hidden>No station has recorded anything yet.</p>\n"
           "</main>\n<script>\n" +
           std::string(assets::kStationsJs) + "\n</script>\n</body>\n</html>\n";
}

void Page(httplib::Response& response, const std::string& html) {
    response.headers.erase("Content-Security-Policy");
    response.set_header("Content-Security-Policy", PagePolicy(html));
    response.set_header("Cache-Control", "no-store");
    response.set_content(html, "text/html; charset=utf-8");
}

void Text(httplib::Response& response, int status, const std::string& text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

// Counts what is open at once, up to a limit.
class Slots {
  public:
    explicit Slots(int most) : most_(most) {}
    bool Take() {
        if (++taken_ <= most_) return true;
        --taken_;
        return false;
    }
    void Give() { --taken_; }

  private:
    const int most_;
    std::atomic<int> taken_{0};
};

// The report of the store as it is now; ?serial=S and ?since=DATE select.
void ServeReport(const std::string& store, Slots& reports, const httplib::Request& request,
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
        if (!options.selection.since)
            return Text(response, 400, "since=" + since + ": not a date (YYYY-MM-DD)");
        facts.selection += (facts.selection.empty() ? "" : ", ") + ("since " + since);
    }
    if (!reports.Take()) {
        response.set_header("Retry-After", "5");
        return Text(response, 503, "busy: other reports are being built; try again shortly");
    }
    std::string error;
    auto reader = OpenReader(store, &error);
    Report report;
    if (reader != nullptr && reader->LimitQueries(kQueryMs, &error)) {
        StoreReader rows(*reader);
        if (BuildReport(rows, options, &report, &error)) {
            facts.store = ShownStoreName(store);
            facts.generatedAt = results::NowIso();
            std::ostringstream html;
            WriteHtml(report, facts, html);
            reports.Give();
            return Page(response, html.str());
        }
    }
    reports.Give();
    Text(response, 503, error);
}

void ServeMetrics(const std::string& store, Slots& reports, httplib::Response& response) {
    std::string text, error;
    if (!reports.Take()) {
        response.set_header("Retry-After", "5");
        return Text(response, 503, "busy");
    }
    auto reader = OpenReader(store, &error);
    if (reader == nullptr || !reader->LimitQueries(kQueryMs, &error) ||
        !WriteMetrics(*reader, std::chrono::system_clock::now(), &text, &error))
        text = StoreDownMetrics();
    reports.Give();
    response.set_header("Cache-Control", "no-store");
    response.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
}

// The board as server-sent events: the board at once, then every newer one.
// A page that has gone is seen within a second and its connection ends.
void ServeEvents(LiveBoard& board, Slots& streams, httplib::Response& response) {
    if (!streams.Take()) {
        response.set_header("Retry-After", "5");
        return Text(response, 503, "too many live pages open; try again shortly");
    }
    response.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<long long>(0);
    auto quiet = std::make_shared<Clock::time_point>(Clock::now());
    response.set_chunked_content_provider(
        "text/event-stream",
        [&board, seen, quiet](std::size_t, httplib::DataSink& sink) {
            std::string json;
            long long version = 0;
            if (!board.WaitNewer(*seen, kStreamLook, &json, &version)) {
                if (board.Stopping()) {
                    sink.done();
                    return true;
                }
                if (Front::PeerGone()) return false;
                if (Clock::now() - *quiet < kKeepAlive) return true;
                *quiet = Clock::now();
                constexpr std::string_view beat = ": still here\n\n";
                return sink.write(beat.data(), beat.size());
            }
            *seen = version;
            *quiet = Clock::now();
            const std::string message =
                "id: " + std::to_string(version) + "\nevent: board\ndata: " + json + "\n\n";
            return sink.write(message.data(), message.size());
        },
        [&streams](bool) { streams.Give(); });
}

bool HasBody(const httplib::Request& request) {
    const std::string length = request.get_header_value("Content-Length");
    return (!length.empty() && length != "0") || request.has_header("Transfer-Encoding");
}

// Everything a request must pass before it is routed, its body never read:
// the method, no body, its headers, its Host, its login.
class Gate {
  public:
    Gate(AllowedHosts hosts, Users* users) : hosts_(std::move(hosts)), users_(users) {}

    // The status of a request refused before its body: 405 or 413, else 0.
    static int Unread(const httplib::Request& request) {
        if (request.method != "GET" && request.method != "HEAD") return 405;
        return HasBody(request) ? 413 : 0;
    }

    httplib::Server::HandlerResponse Check(const httplib::Request& request,
                                           httplib::Response& response) {
        using R = httplib::Server::HandlerResponse;
        Front::HeadRead();
        if (const int status = Unread(request)) {
            Refuse(status, response);
            return R::Handled;
        }
        if (request.headers.size() > kMostHeaders) {
            Text(response, 431, "too many headers");
            return R::Handled;
        }
        if (!hosts_.Allows(request.get_header_value("Host"))) {
            Text(response, 421, "this server does not answer for that host");
            return R::Handled;
        }
        if (users_ != nullptr && !users_->Check(request.get_header_value("Authorization"))) {
            std::this_thread::sleep_for(kLoginDelay);
            response.set_header("WWW-Authenticate", kRealm);
            Text(response, 401, "a login is needed");
            return R::Handled;
        }
        return R::Unhandled;
    }

    static void Refuse(int status, httplib::Response& response) {
        if (status == 405) {
            response.set_header("Allow", "GET, HEAD");
            Text(response, 405, "read-only: only GET");
        } else {
            Text(response, 413, "no request here has a body");
        }
    }

  private:
    AllowedHosts hosts_;
    Users* users_;
};

void Route(httplib::Server& server, const std::string& store, LiveBoard& board, Gate& gate,
           Slots& streams, Slots& reports, const std::string& stationsPage) {
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"X-Frame-Options", "DENY"},
                                {"Content-Security-Policy", kNoContentPolicy}});
    server.set_keep_alive_max_count(1);
    server.set_expect_100_continue_handler(
        [](const httplib::Request& request, httplib::Response& response) {
            const int status = Gate::Unread(request);
            Gate::Refuse(status != 0 ? status : 413, response);
            return response.status;
        });
    server.set_pre_routing_handler(
        [&gate](const httplib::Request& request, httplib::Response& response) {
            return gate.Check(request, response);
        });
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/stations");
    });
    // Browsers ask for an icon; there is none.
    server.Get("/favicon.ico",
               [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    server.Get("/stations", [&](const httplib::Request&, httplib::Response& response) {
        Page(response, stationsPage);
    });
    server.Get("/stations.json", [&](const httplib::Request&, httplib::Response& response) {
        std::string json;
        long long version = 0;
        board.WaitNewer(0, 5s, &json, &version);
        response.set_header("Cache-Control", "no-store");
        response.set_content(json, "application/json");
    });
    server.Get("/stations/events", [&](const httplib::Request&, httplib::Response& response) {
        ServeEvents(board, streams, response);
    });
    server.Get("/report", [&](const httplib::Request& request, httplib::Response& response) {
        ServeReport(store, reports, request, response);
    });
    server.Get("/metrics", [&](const httplib::Request&, httplib::Response& response) {
        ServeMetrics(store, reports, response);
    });
    AddReportPages(server, store,
                   {.page = Page,
                    .limit = [](results::ResultsReader& reader,
                                std::string* error) { return reader.LimitQueries(kQueryMs, error); },
                    .take = [&reports] { return reports.Take(); },
                    .give = [&reports] { reports.Give(); }});
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

std::string Refusal(const ServeOptions& o) {
    if (o.tlsCert.empty() != o.tlsKey.empty())
        return "--tls-cert and --tls-key go together: give both";
    if (IsLoopback(o.listen.host) || o.insecure) return "";
    const bool tls = !o.tlsCert.empty();
    const bool users = !o.users.empty();
    if (tls && users) return "";
    std::string add;
    if (!tls) add = "--tls-cert FILE --tls-key FILE";
    if (!users) add += std::string(add.empty() ? "" : " and ") + "--users FILE";
    return "listening on " + o.listen.host + " opens the pages to the network: add " + add +
           " (or --insecure, on a network you trust)";
}

int Serve(const ServeOptions& options, std::ostream& out, std::ostream& err) {
    if (const std::string refusal = Refusal(options); !refusal.empty()) {
        err << "zhand-report: " << refusal << "\n";
        return 2;
    }
    std::string error;
    const bool tls = !options.tlsCert.empty();
    if (tls && !PrivateFile(options.tlsKey, "TLS key", &error)) {
        err << "zhand-report: " << error << "\n";
        return 1;
    }
    Users users;
    if (!options.users.empty() && !users.Load(options.users, &error)) {
        err << "zhand-report: " << error << "\n";
        return 1;
    }
    // SIGINT and SIGTERM are taken by this thread alone (sigwait below); the
    // threads started from here inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<PlainRoutes> plain;
    std::unique_ptr<TlsRoutes> secure;
    httplib::Server* routes = nullptr;
    Front::Process process;
    SSL_CTX* context = nullptr;
    const auto setup = [](httplib::Request&) {};
    if (tls) {
        secure = std::make_unique<TlsRoutes>(options.tlsCert.c_str(), options.tlsKey.c_str());
        if (!secure->is_valid()) {
            err << "zhand-report: cannot use the certificate " << options.tlsCert
                << " with the key " << options.tlsKey << "\n";
            return 1;
        }
        context = secure->ssl_context();
        secure->Serving(true);
        routes = secure.get();
        process = [&secure, setup](httplib::Stream& stream) {
            bool closed = false;
            return secure->process_request(stream, true, closed, setup);
        };
    } else {
        plain = std::make_unique<PlainRoutes>();
        plain->Serving(true);
        routes = plain.get();
        process = [&plain, setup](httplib::Stream& stream) {
            bool closed = false;
            return plain->process_request(stream, true, closed, setup);
        };
    }

    Front front(process, context, FrontLimits{});
    int port = 0;
    if (!front.Listen(options.listen.host, options.listen.port, &port, &error)) {
        err << "zhand-report: cannot listen on " << options.listen.host << ":"
            << options.listen.port << "\n";
        return 1;
    }
    LiveBoard board(options.store);
    const std::string shown = ShownStoreName(options.store);
    Gate gate(AllowedHosts(options.listen.host, port, tls, options.hosts),
              options.users.empty() ? nullptr : &users);
    Slots streams(kMostStreams);
    Slots reports(kMostReports);
    const std::string stationsPage = StationsPage(shown);
    Route(*routes, options.store, board, gate, streams, reports, stationsPage);

    board.Start();
    std::thread serving([&] { front.Run(); });
    const bool v6 = options.listen.host.find(':') != std::string::npos;
    out << "serving " << (tls ? "https" : "http") << "://"
        << (v6 ? "[" + options.listen.host + "]" : options.listen.host) << ":" << port << "/ from "
        << shown << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    const auto deadline = Clock::now() + kStopWithin;
    board.Stop();  // open event streams end, each with its last chunk
    front.WaitIdle(Clock::now() + kStreamsEnd);
    if (plain != nullptr) plain->Serving(false);
    if (secure != nullptr) secure->Serving(false);
    front.Stop();
    serving.join();
    const bool clean = front.WaitIdle(deadline) && board.Stopped(deadline);
    out << "stopped" << std::endl;
    // A connection or a query still under way does not hold the stop: the
    // process ends without waiting for it.
    if (!clean) _exit(0);
    return 0;
}

}  // namespace report
