// Headless Chromium driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: commands on its fd 3, answers and events on its
// fd 4, each a JSON text ended by a NUL byte). Nothing to download and no
// port to open: the browser Debian ships, started by the test itself.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of base64 text (as Page.captureScreenshot answers a picture).
std::string DecodeBase64(std::string_view text);

class Chromium {
  public:
    Chromium() = default;
    ~Chromium();
    Chromium(const Chromium&) = delete;
    Chromium& operator=(const Chromium&) = delete;

    // Starts the browser with a fresh profile in `profileDir`; false with
    // *error when it cannot.
    bool Start(const std::string& profileDir, std::string* error);

    // Attaches to the browser's page; false with *error when there is none.
    bool AttachPage(std::string* error);

    // Sends a command to the page and waits for its answer (its "result",
    // or nullopt with *error on an error answer or a time-out).
    std::optional<nlohmann::json> Call(const std::string& method, nlohmann::json params,
                                       std::string* error,
                                       std::chrono::seconds timeout = std::chrono::seconds(60));

    // Waits for an event of the page named `method`.
    bool WaitFor(const std::string& method, std::string* error,
                 std::chrono::seconds timeout = std::chrono::seconds(60));

    // Every event received so far.
    const std::vector<nlohmann::json>& Events() const { return events_; }

  private:
    std::optional<nlohmann::json> Read(std::chrono::steady_clock::time_point deadline);
    bool Send(const nlohmann::json& message);
    std::optional<nlohmann::json> CallIn(const std::string& session, const std::string& method,
                                         nlohmann::json params, std::string* error,
                                         std::chrono::seconds timeout);

    int pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    int nextId_ = 1;
    std::string buffer_;
    std::string session_;
    std::vector<nlohmann::json> events_;
};
