#include "devtools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const char* Browser() {
    const char* named = std::getenv("ZHAND_CHROMIUM");
    return named != nullptr ? named : "chromium";
}

}  // namespace

std::string DecodeBase64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    int bits = 0;
    unsigned value = 0;
    for (char c : text) {
        const std::size_t at = kAlphabet.find(c);
        if (at == std::string_view::npos) continue;  // padding, line ends
        value = value << 6 | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

Chromium::~Chromium() {
    if (toBrowser_ >= 0) close(toBrowser_);
    if (fromBrowser_ >= 0) close(fromBrowser_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            usleep(100000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Chromium::Start(const std::string& profileDir, std::string* error) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) {
        *error = "no pipe";
        return false;
    }
    const std::string profile = "--user-data-dir=" + profileDir;
    pid_ = fork();
    if (pid_ == 0) {
        // The browser reads commands on fd 3 and writes answers on fd 4.
        dup2(in[0], 3);
        dup2(out[1], 4);
        for (int fd : {in[0], in[1], out[0], out[1]})
            if (fd > 4) close(fd);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        setpgid(0, 0);
        execlp(Browser(), Browser(), "--headless", "--no-sandbox", "--disable-gpu",
               "--disable-quic", "--no-first-run", "--disable-background-networking",
               "--disable-component-update", "--disable-sync", "--disable-extensions",
               "--hide-scrollbars", "--remote-debugging-pipe", profile.c_str(), "about:blank",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
    if (pid_ < 0) {
        *error = "cannot start the browser";
        return false;
    }
    return true;
}

bool Chromium::Send(const nlohmann::json& message) {
    std::string text = message.dump();
    text += '\0';
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = write(toBrowser_, text.data() + sent, text.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<nlohmann::json> Chromium::Read(std::chrono::steady_clock::time_point deadline) {
    while (true) {
        const std::size_t end = buffer_.find('\0');
        if (end != std::string::npos) {
            nlohmann::json message = nlohmann::json::parse(buffer_.substr(0, end), nullptr, false);
            buffer_.erase(0, end + 1);
            if (!message.is_discarded()) return message;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fromBrowser_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char chunk[65536];
        const ssize_t n = read(fromBrowser_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<nlohmann::json> Chromium::CallIn(const std::string& session,
                                               const std::string& method, nlohmann::json params,
                                               std::string* error, std::chrono::seconds timeout) {
    const int id = nextId_++;
    nlohmann::json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!session.empty()) message["sessionId"] = session;
    if (!Send(message)) {
        *error = "the browser is gone";
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::optional<nlohmann::json> answer = Read(deadline)) {
        if (answer->contains("id") && (*answer)["id"] == id) {
            if (answer->contains("error")) {
                *error = method + ": " + (*answer)["error"].dump();
                return std::nullopt;
            }
            return answer->value("result", nlohmann::json::object());
        }
        if (answer->contains("method")) events_.push_back(std::move(*answer));
    }
    *error = method + ": no answer from the browser";
    return std::nullopt;
}

std::optional<nlohmann::json> Chromium::Call(const std::string& method, nlohmann::json params,
                                             std::string* error, std::chrono::seconds timeout) {
    return CallIn(session_, method, std::move(params), error, timeout);
}

bool Chromium::AttachPage(std::string* error) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<nlohmann::json> targets = CallIn(
            "", "Target.getTargets", nlohmann::json::object(), error, std::chrono::seconds(30));
        if (!targets) return false;
        for (const auto& target : (*targets)["targetInfos"]) {
            if (target["type"] != "page") continue;
            std::optional<nlohmann::json> attached = CallIn(
                "", "Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}},
                error, std::chrono::seconds(30));
            if (!attached) return false;
            session_ = (*attached)["sessionId"];
            return true;
        }
        usleep(100000);
    }
    *error = "the browser opened no page";
    return false;
}

bool Chromium::WaitFor(const std::string& method, std::string* error,
                       std::chrono::seconds timeout) {
    for (const auto& e : events_)
        if (e["method"] == method) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::optional<nlohmann::json> message = Read(deadline)) {
        if (!message->contains("method")) continue;
        events_.push_back(*message);
        if ((*message)["method"] == method) return true;
    }
    *error = "no " + method + " from the browser";
    return false;
}
