#include "serve_policy.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sodium.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>

namespace report {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Sha256Source(std::string_view content) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(content.data()),
                       content.size());
    char text[sodium_base64_ENCODED_LEN(crypto_hash_sha256_BYTES, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(text, sizeof text, digest, sizeof digest, sodium_base64_VARIANT_ORIGINAL);
    return "'sha256-" + std::string(text) + "'";
}

// The sources of every <tag ...>content</tag> block of the page.
std::string Hashes(const std::string& html, const std::string& tag) {
    std::string sources;
    const std::string open = "<" + tag;
    const std::string close = "</" + tag + ">";
    for (std::size_t at = html.find(open); at != std::string::npos; at = html.find(open, at)) {
        const std::size_t start = html.find('>', at);
        if (start == std::string::npos) break;
        const std::size_t end = html.find(close, start);
        if (end == std::string::npos) break;
        sources += " " + Sha256Source(std::string_view(html).substr(start + 1, end - start - 1));
        at = end + close.size();
    }
    return sources.empty() ? " 'none'" : sources;
}

void AddMachineAddresses(std::set<std::string>& names) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
            if (a->ifa_addr == nullptr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (a->ifa_addr->sa_family == AF_INET) {
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr,
                          text, sizeof text);
            } else if (a->ifa_addr->sa_family == AF_INET6) {
                inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr,
                          text, sizeof text);
            } else {
                continue;
            }
            names.insert(Lower(text));
        }
        freeifaddrs(list);
    }
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') names.insert(Lower(host));
    names.insert("localhost");
}

}  // namespace

std::string PagePolicy(const std::string& html) {
    return "default-src 'none'; script-src" + Hashes(html, "script") + "; style-src" +
           Hashes(html, "style") +
           "; connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none';"
           " frame-ancestors 'none'";
}

bool IsLoopback(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr v4{};
    return inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

AllowedHosts::AllowedHosts(const std::string& host, int port, bool tls,
                           const std::vector<std::string>& extra)
    : port_(port), defaultPort_(tls ? 443 : 80) {
    if (host == "0.0.0.0" || host == "::" || host.empty()) {
        AddMachineAddresses(names_);
    } else {
        names_.insert(Lower(host));
        if (IsLoopback(host)) names_.insert({"localhost", "127.0.0.1", "::1"});
    }
    for (const std::string& name : extra) names_.insert(Lower(name));
}

bool AllowedHosts::Allows(const std::string& header) const {
    std::string name = header;
    int port = defaultPort_;
    const std::size_t colon = name.rfind(':');
    const std::size_t bracket = name.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        const std::string digits = name.substr(colon + 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
            return false;
        name.resize(colon);
    }
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    return port == port_ && names_.contains(Lower(name));
}

}  // namespace report
