// The logins of zhand-report serve: a file of "name:hash" lines, each hash
// an argon2id string of libsodium's crypto_pwhash_str (what hash-password
// prints), and the check of an HTTP Basic login against it.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace report {

// Whether a file holding a secret may be used: false with *error when it
// cannot be read or when others than its owner may read or write it.
bool PrivateFile(const std::string& path, const char* what, std::string* error);

class Users {
  public:
    // Reads the users file; false with *error (naming the line) when it
    // cannot be used. Blank lines and lines starting with # are skipped.
    bool Load(const std::string& path, std::string* error);

    // The name of the login an Authorization header holds, when its password
    // is that user's; nullopt otherwise. A login once found right is
    // remembered (as a keyed hash of name and password), so that a page's
    // many requests cost one password check; checks run one at a time, each
    // taking the memory its hash asks for.
    std::optional<std::string> Check(const std::string& authorization);

  private:
    std::map<std::string, std::string> hashes_;
    std::mutex mutex_;
    std::set<std::string> known_;
    std::string key_;
};

// The argon2id hash of `password` (libsodium's interactive limits); nullopt
// with *error when it cannot be made.
std::optional<std::string> HashPassword(const std::string& password, std::string* error);

}  // namespace report
