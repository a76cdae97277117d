// What serve needs for HTTPS with logins, made by the test: a self-signed
// certificate for 127.0.0.1 and its key (openssl), and a users file of one
// login whose hash zhand-report hash-password made. Both files readable by
// their owner alone, as serve demands.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "run_program.h"

struct HttpsFiles {
    static constexpr const char* kUser = "foreman";
    static constexpr const char* kPassword = "line 7 s3cret";

    explicit HttpsFiles(const std::filesystem::path& dir)
        : cert((dir / "cert.pem").string()),
          key((dir / "key.pem").string()),
          users((dir / "users").string()) {
        const ProgramResult made = RunProgram(
            "/usr/bin/openssl",
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days",
             "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        const ProgramResult hash =
            RunProgram("/bin/sh", {"-c", std::string("printf '%s\\n' '") + kPassword + "' | " +
                                             ZHAND_REPORT_PATH + " hash-password"});
        hashed = hash.out.substr(0, hash.out.find('\n'));
        std::ofstream(users) << "# the line's logins\n" << kUser << ":" << hashed << "\n";
        chmod(key.c_str(), 0600);
        chmod(users.c_str(), 0600);
        ready = made.status == 0 && hash.status == 0 && hashed.starts_with("$argon2id$");
        problem = made.err + hash.err;
    }

    // "--tls-cert CERT --tls-key KEY --users USERS".
    std::vector<std::string> Options() const {
        return {"--tls-cert", cert, "--tls-key", key, "--users", users};
    }

    std::string cert, key, users, hashed, problem;
    bool ready = false;
};
