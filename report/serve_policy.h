// What every answer of zhand-report serve says about itself, and which
// requests it answers at all: the security headers, a Content-Security-Policy
// that lets a page run its own inline script and style and nothing else,
// and the Host header a request must name.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace report {

// The policy for one HTML page: each of its inline <script> and <style>
// blocks allowed by its SHA-256, nothing from elsewhere but the page's own
// connections (the live stream).
std::string PagePolicy(const std::string& html);
// The policy of every answer that is no page.
inline constexpr const char* kNoContentPolicy = "default-src 'none'; frame-ancestors 'none'";

// The names a request may give in its Host header for a server listening on
// `host`:`port`: that address, and for a wildcard address (0.0.0.0, ::)
// every address of this machine and its host name; for a loopback address
// "localhost", 127.0.0.1 and ::1; and the names in `extra` (a DNS name of the machine).
class AllowedHosts {
  public:
    AllowedHosts(const std::string& host, int port, bool tls,
                 const std::vector<std::string>& extra);
    // Whether a Host header's value names this server.
    bool Allows(const std::string& header) const;
    // One of the names, for messages.
    const std::set<std::string>& Names() const { return names_; }

  private:
    std::set<std::string> names_;
    int port_;
    int defaultPort_;
};

// Whether `host` is a loopback address (127.0.0.0/8, ::1) or "localhost".
bool IsLoopback(const std::string& host);

}  // namespace report
