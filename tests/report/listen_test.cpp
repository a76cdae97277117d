// Where serve listens: --listen ADDR:PORT as typed, the loopback address
// when the address is left out, and every malformed text refused.
#include <gtest/gtest.h>

#include "serve.h"

namespace {

using report::ParseListen;

TEST(Listen, AddressAndPort) {
    struct Case {
        const char* text;
        const char* host;
        int port;
    };
    const Case good[] = {
        {"127.0.0.1:8080", "127.0.0.1", 8080}, {":9000", "127.0.0.1", 9000},
        {"0.0.0.0:80", "0.0.0.0", 80},         {"[::1]:8081", "::1", 8081},
        {"localhost:0", "localhost", 0},       {"10.1.2.3:65535", "10.1.2.3", 65535},
    };
    for (const Case& c : good) {
        SCOPED_TRACE(c.text);
        const auto address = ParseListen(c.text);
        ASSERT_TRUE(address);
        EXPECT_EQ(address->host, c.host);
        EXPECT_EQ(address->port, c.port);
    }
    for (const char* bad : {"8080", "", "host:", "host:65536", "host:-1", "host:80x", "::1:80",
                            "[::1]", "host: 80"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseListen(bad));
    }
}

}  // namespace
