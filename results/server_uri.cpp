#include "server_uri.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

namespace results {

namespace {

constexpr const char* kMask = "***";

// What libpq reads from a URI: keyword, value, and whether libpq counts it
// a secret (its display character "*").
struct Setting {
    std::string value;
    bool secret = false;
};
using Settings = std::vector<std::pair<std::string, Setting>>;

// libpq's reading of the URI; false when libpq cannot read it.
bool Parse(const std::string& uri, Settings* settings) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(ServerUri(uri).c_str(), &error);
    PQfreemem(error);
    if (options == nullptr) return false;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr) continue;
        const bool secret = o->dispchar != nullptr && o->dispchar[0] == '*';
        settings->emplace_back(o->keyword, Setting{o->val, secret});
    }
    PQconninfoFree(options);
    return true;
}

std::string Value(const Settings& settings, std::string_view keyword) {
    for (const auto& [key, setting] : settings) {
        if (key == keyword) return setting.value;
    }
    return "";
}

std::string Default(std::string_view keyword) {
    PQconninfoOption* defaults = PQconndefaults();
    std::string value;
    for (PQconninfoOption* o = defaults; o != nullptr && o->keyword != nullptr; ++o) {
        if (keyword == o->keyword && o->val != nullptr) value = o->val;
    }
    PQconninfoFree(defaults);
    return value;
}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t comma; (comma = list.find(',', from)) != std::string::npos; from = comma + 1) {
        parts.push_back(list.substr(from, comma - from));
    }
    parts.push_back(list.substr(from));
    return parts;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// `text` with each character of `special`, each control character and
// each "%" that does not start an encoding (`keepEncoded`) or every "%"
// percent-encoded.
std::string Encode(std::string_view text, std::string_view special, bool keepEncoded) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool encoding = c == '%' && keepEncoded && i + 2 < text.size() &&
                              IsHex(text[i + 1]) && IsHex(text[i + 2]);
        if (encoding || (c != '%' && c > ' ' && c != 0x7f &&
                         special.find(static_cast<char>(c)) == std::string_view::npos)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// Where the credentials of a URI are: after "SCHEME://", up to the last "@"
// before the query. npos for `at` when the URI has none.
struct Credentials {
    std::size_t start = std::string::npos;
    std::size_t colon = std::string::npos;  // between user and password
    std::size_t at = std::string::npos;
};

Credentials FindCredentials(const std::string& uri) {
    Credentials c;
    if (!IsServerUri(uri)) return c;
    c.start = uri.find("://") + 3;
    const std::size_t query = std::min(uri.find('?', c.start), uri.size());
    const std::size_t at = uri.rfind('@', query == 0 ? 0 : query - 1);
    if (at == std::string::npos || at < c.start) return c;
    c.at = at;
    const std::size_t colon = uri.find(':', c.start);
    if (colon < at) c.colon = colon;
    return c;
}

void ReplaceAll(std::string& text, const std::string& what) {
    if (what.empty()) return;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + std::string_view(kMask).size())) {
        text.replace(at, what.size(), kMask);
    }
}

std::string Authority(const Settings& settings, Settings* rest) {
    const std::string host = Value(settings, "host");
    const std::string port = Value(settings, "port");
    const std::vector<std::string> hosts = Split(host);
    const std::vector<std::string> ports = Split(port);
    const bool sockets = std::any_of(hosts.begin(), hosts.end(),
                                     [](const std::string& h) { return h.starts_with('/'); });
    const bool paired = ports.size() == hosts.size() || port.empty();
    if (host.empty() || sockets || !paired) {
        for (const char* key : {"host", "port"}) {
            const std::string value = Value(settings, key);
            if (!value.empty()) rest->emplace_back(key, Setting{value, false});
        }
        return "";
    }
    std::string authority;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (i > 0) authority += ',';
        const std::string name = Encode(hosts[i], "%@/?#,[]", false);
        // An IPv6 address in brackets.
        const bool v6 = hosts[i].find(':') != std::string::npos;
        authority.append(v6 ? "[" : "").append(name).append(v6 ? "]" : "");
        if (!port.empty() && !ports[i].empty()) {
            authority.append(":").append(Encode(ports[i], "@/?#,", false));
        }
    }
    return authority;
}

}  // namespace

bool IsServerUri(const std::string& target) {
    return target.starts_with("postgresql://") || target.starts_with("postgres://");
}

std::string ServerUri(const std::string& uri) {
    const Credentials c = FindCredentials(uri);
    if (c.at == std::string::npos) return uri;
    const std::size_t userEnd = c.colon != std::string::npos ? c.colon : c.at;
    std::string fixed = uri.substr(0, c.start);
    fixed += Encode(std::string_view(uri).substr(c.start, userEnd - c.start), "@/:?#", true);
    if (c.colon != std::string::npos) {
        fixed += ':';
        fixed +=
            Encode(std::string_view(uri).substr(c.colon + 1, c.at - c.colon - 1), "@/:?#", true);
    }
    return fixed + uri.substr(c.at);
}

std::string ServerAddress(const std::string& uri) {
    Settings settings;
    Parse(uri, &settings);
    std::string host = Split(Value(settings, "host"))[0];
    if (host.empty()) host = Split(Value(settings, "hostaddr"))[0];
    // Where a service is, its file says; libpq reads it only to connect.
    const std::string service = Value(settings, "service");
    if (host.empty() && !service.empty()) return service + " (service)";
    if (host.empty()) host = Default("host");
    if (host.empty()) host = "localhost";
    std::string port = Split(Value(settings, "port"))[0];
    if (port.empty()) port = Default("port");
    if (port.empty()) port = "5432";
    return host + ":" + port;
}

bool HasPassword(const std::string& uri) {
    Settings settings;
    return Parse(uri, &settings) && !Value(settings, "password").empty();
}

std::string MaskedUri(const std::string& uri) {
    const std::string scheme = uri.substr(0, uri.find("://") + 3);
    Settings settings;
    if (!Parse(uri, &settings)) return scheme + kMask;
    std::string shown = scheme;
    const std::string user = Value(settings, "user");
    const bool password = !Value(settings, "password").empty();
    if (!user.empty() || password) {
        shown += Encode(user, "%@:/?#", false) + (password ? std::string(":") + kMask : "") + "@";
    }
    Settings rest;
    shown += Authority(settings, &rest);
    const std::string dbname = Value(settings, "dbname");
    if (!dbname.empty()) shown += "/" + Encode(dbname, "%?#", false);
    for (const auto& [key, setting] : settings) {
        if (key != "user" && key != "password" && key != "host" && key != "port" &&
            key != "dbname") {
            rest.emplace_back(key, setting);
        }
    }
    char separator = '?';
    for (const auto& [key, setting] : rest) {
        shown +=
            separator + key + "=" + (setting.secret ? kMask : Encode(setting.value, "%&=#", false));
        separator = '&';
    }
    return shown;
}

std::string WithoutPassword(std::string text, const std::string& uri) {
    std::vector<std::string> secrets;
    Settings settings;
    Parse(uri, &settings);
    for (const auto& [key, setting] : settings) {
        if (setting.secret) secrets.push_back(setting.value);
    }
    // As written, and as encoded in the URI libpq is given.
    for (const std::string& form : {uri, ServerUri(uri)}) {
        const Credentials c = FindCredentials(form);
        if (c.colon != std::string::npos)
            secrets.push_back(form.substr(c.colon + 1, c.at - c.colon - 1));
    }
    // A longer secret first, so that none is left in pieces.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& secret : secrets) ReplaceAll(text, secret);
    return text;
}

}  // namespace results
