// zhand-report serve: the HTML report, a live page of the stations and the
// line's metrics, read-only (GET and HEAD), over HTTP on the loopback address
// or over HTTPS with logins for a network.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace report {

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
};

// "ADDR:PORT", "[IPv6]:PORT" or ":PORT" (the loopback address); nullopt when
// it is none of these.
std::optional<ListenAddress> ParseListen(const std::string& text);

struct ServeOptions {
    std::string store;
    ListenAddress listen;
    // Both or neither: HTTPS only, with this certificate (chain) and key.
    std::string tlsCert;
    std::string tlsKey;
    // The logins ("name:hash" lines); "" for none.
    std::string users;
    // Lets another address than the loopback one be served without TLS and
    // logins.
    bool insecure = false;
    // More names the Host header may give (the machine's DNS names).
    std::vector<std::string> hosts;
};

// Why these options must not be served ("" when they may), as the one line
// that says what to add.
std::string Refusal(const ServeOptions& options);

// Serves until SIGINT or SIGTERM. Says where it listens on `out` ("serving
// http[s]://HOST:PORT/ from STORE") once it does; a failure to listen, or a
// certificate, key or users file that cannot be used, is one line on `err`.
// The exit status.
int Serve(const ServeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace report
