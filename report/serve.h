// zhand-report serve: the HTML report and a live page of the stations over
// HTTP, read-only (GET only), on the loopback address unless told otherwise.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace report {

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 8080;  // 0: any free port
};

// "ADDR:PORT", "[IPv6]:PORT" or ":PORT" (the loopback address); nullopt when
// it is none of these.
std::optional<ListenAddress> ParseListen(const std::string& text);

// Serves the store `store` names until SIGINT or SIGTERM. Says where it
// listens on `out` ("serving http://HOST:PORT/") once it does; a failure to
// listen is one line on `err`. The exit status.
int Serve(const std::string& store, const ListenAddress& listen, std::ostream& out,
          std::ostream& err);

}  // namespace report
