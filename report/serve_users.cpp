#include "serve_users.h"

#include <sodium.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace report {

namespace {

constexpr std::string_view kBasic = "Basic ";
// A header longer than this is no login of this file's users.
constexpr std::size_t kMostAuthorization = 1024;

bool SodiumReady(std::string* error) {
    if (sodium_init() >= 0) return true;
    *error = "libsodium cannot start";
    return false;
}

// The "name:password" of a Basic header, or "" when it holds none.
std::string Decoded(const std::string& authorization) {
    if (authorization.size() > kMostAuthorization || !authorization.starts_with(kBasic)) return "";
    const std::string text = authorization.substr(kBasic.size());
    std::string bytes(text.size(), '\0');
    std::size_t length = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                          text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return "";
    bytes.resize(length);
    return bytes;
}

}  // namespace

bool PrivateFile(const std::string& path, const char* what, std::string* error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        *error = std::string(what) + " " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = std::string(what) + " " + path + ": not a file";
        return false;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        *error = std::string(what) + " " + path + " can be read by others (mode " + mode +
                 "): let its owner alone read it (chmod 600 " + path + ")";
        return false;
    }
    return true;
}

bool Users::Load(const std::string& path, std::string* error) {
    if (!SodiumReady(error) || !PrivateFile(path, "users file", error)) return false;
    std::ifstream file(path);
    if (!file) {
        *error = "users file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        const std::size_t colon = line.find(':');
        const std::string name = line.substr(0, colon);
        const std::string hash = colon == std::string::npos ? "" : line.substr(colon + 1);
        if (name.empty() || !hash.starts_with("$argon2id$") ||
            hash.size() >= crypto_pwhash_STRBYTES) {
            *error = "users file " + path + " line " + std::to_string(number) +
                     ": not name:hash (make the hash with zhand-report hash-password)";
            return false;
        }
        hashes_[name] = hash;
    }
    if (hashes_.empty()) {
        *error = "users file " + path + ": no user in it";
        return false;
    }
    key_.resize(crypto_generichash_KEYBYTES);
    randombytes_buf(key_.data(), key_.size());
    return true;
}

std::optional<std::string> Users::Check(const std::string& authorization) {
    const std::string login = Decoded(authorization);
    const std::size_t colon = login.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::string name = login.substr(0, colon);
    const std::string password = login.substr(colon + 1);
    const auto user = hashes_.find(name);
    if (user == hashes_.end()) return std::nullopt;
    std::string token(crypto_generichash_BYTES, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(token.data()), token.size(),
                       reinterpret_cast<const unsigned char*>(login.data()), login.size(),
                       reinterpret_cast<const unsigned char*>(key_.data()), key_.size());
    std::lock_guard lock(mutex_);
    if (known_.contains(token)) return name;
    if (crypto_pwhash_str_verify(user->second.c_str(), password.data(), password.size()) != 0)
        return std::nullopt;
    known_.insert(token);
    return name;
}

std::optional<std::string> HashPassword(const std::string& password, std::string* error) {
    if (!SodiumReady(error)) return std::nullopt;
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        *error = "not enough memory to hash the password";
        return std::nullopt;
    }
    return std::string(hash);
}

}  // namespace report
