// zhand-report serve for a factory network: HTTPS with a certificate the
// test makes, logins checked over HTTP Basic, requests refused before their
// body is read, the security headers, and the options that would open the
// pages unsafely refused with a message that says what to add. curl is the
// client, as a person or a script on the line would use it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "https_files.h"
#include "run_program.h"
#include "serve_process.h"
#include "sqlite_store.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// curl's arguments for a login and `count` headers of `size` bytes each.
std::vector<std::string> ManyHeaders(const std::string& login, int count, std::size_t size) {
    std::vector<std::string> args = {"-u", login};
    for (int i = 0; i < count; ++i)
        args.insert(args.end(),
                    {"-H", "X-Filler-" + std::to_string(i) + ": " + std::string(size, 'a')});
    return args;
}

class SecureServe : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zhand-https-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
        db_ = (dir_ / "results.db").string();
        std::string error;
        auto store =
            results::SqliteStore::Open(db_, results::SqliteStore::Mode::ReadWrite, 2000, &error);
        ASSERT_NE(store, nullptr) << error;
        const std::vector<results::Entry> facts = {
            results::RunStart{"run-a", "bench-1", "3.0.0", "HND123", "JD", "Multi-Axis", 10,
                              "2026-12-10T09:53:12.345Z", "HND123JD261210_1.txt"},
            results::RunEnd{"run-a", "2026-12-10T09:54:00.000Z", "pass", 10, 0}};
        ASSERT_TRUE(store->ApplyAll(facts, &error)) << error;
    }
    void TearDown() override { fs::remove_all(dir_); }

    struct Answer {
        int code = 0;
        double seconds = 0;
        std::string headers, body, err;
    };
    // curl against the server, trusting the test's certificate.
    Answer Curl(const std::string& url, std::vector<std::string> args) {
        const std::string headers = (dir_ / "headers").string();
        const std::string body = (dir_ / "body").string();
        args.insert(args.begin(), {"-s", "--cacert", files_->cert, "-D", headers, "-o", body, "-w",
                                   "%{http_code} %{time_total}", "--max-time", "20"});
        args.push_back(url);
        const ProgramResult run = RunProgram("/usr/bin/curl", args);
        Answer answer;
        std::sscanf(run.out.c_str(), "%d %lf", &answer.code, &answer.seconds);
        answer.headers = SlurpFile(headers);
        answer.body = SlurpFile(body);
        answer.err = run.err;
        fs::remove(headers);
        fs::remove(body);
        return answer;
    }

    fs::path dir_;
    std::string db_;
    std::unique_ptr<HttpsFiles> files_;
};

TEST_F(SecureServe, LoginsOverTlsAndRequestsRefusedUnread) {
    files_ = std::make_unique<HttpsFiles>(dir_);
    ASSERT_TRUE(files_->ready) << files_->problem;
    ServeProcess serve(db_, files_->Options());
    ASSERT_GT(serve.Port(), 0) << serve.Said();
    ASSERT_NE(serve.Said().find("serving https://127.0.0.1:"), std::string::npos) << serve.Said();
    const std::string base = "https://127.0.0.1:" + std::to_string(serve.Port());
    const std::string login = std::string(HttpsFiles::kUser) + ":" + HttpsFiles::kPassword;
    const std::string big = (dir_ / "big").string();
    { std::ofstream(big) << std::string(4 << 20, 'x'); }

    struct Case {
        const char* name;
        std::string path;
        std::vector<std::string> args;
        int code;
        const char* header;  // a header line the answer holds ("" for none)
        const char* body;    // text the body holds
    };
    const Case cases[] = {
        {"no login", "/stations.json", {}, 401, "WWW-Authenticate: Basic realm=", "login"},
        {"wrong password", "/stations.json", {"-u", "foreman:guess"}, 401, "WWW-Authenticate", ""},
        {"unknown user",
         "/stations.json",
         {"-u", "intruder:" + std::string(HttpsFiles::kPassword)},
         401,
         "",
         ""},
        {"the board",
         "/stations.json",
         {"-u", login},
         200,
         "X-Content-Type-Options: nosniff",
         "\"serial\":\"HND123\""},
        {"the page",
         "/stations",
         {"-u", login},
         200,
         "Content-Security-Policy: default-src 'none'; script-src 'sha256-",
         "ZorvathHand stations"},
        {"the report",
         "/report",
         {"-u", login},
         200,
         "Referrer-Policy: no-referrer",
         "ZorvathHand test report"},
        {"metrics",
         "/metrics",
         {"-u", login},
         200,
         "Content-Type: text/plain; version=0.0.4",
         "zhand_runs_total{test=\"Multi-Axis\",outcome=\"pass\"} 1"},
        {"a POST",
         "/stations.json",
         {"-u", login, "--data-binary", "@" + big},
         405,
         "Allow: GET, HEAD",
         "read-only"},
        {"a GET with a body",
         "/stations.json",
         {"-u", login, "-X", "GET", "--data-binary", "@" + big},
         413,
         "",
         "no request here has a body"},
        {"a body without a login",
         "/stations.json",
         {"-X", "PUT", "--data-binary", "@" + big},
         405,
         "",
         ""},
        {"too many headers", "/stations.json", ManyHeaders(login, 70, 4), 431, "",
         "too many headers"},
        // Five lines of 7 000 bytes: each within a line's bound, together
        // past the head's 32 KiB.
        {"a head too large", "/stations.json", ManyHeaders(login, 5, 7000), 400, "", ""},
        {"another host",
         "/stations.json",
         {"-u", login, "-H", "Host: intranet.example"},
         421,
         "",
         "does not answer for that host"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Answer got = Curl(base + c.path, c.args);
        EXPECT_EQ(got.code, c.code) << got.err << got.headers;
        EXPECT_NE(got.headers.find(c.header), std::string::npos) << got.headers;
        EXPECT_NE(got.body.find(c.body), std::string::npos) << got.body.substr(0, 300);
        EXPECT_NE(got.headers.find("X-Content-Type-Options: nosniff"), std::string::npos);
        // A wrong login waits before it is told.
        if (c.code == 401) EXPECT_GE(got.seconds, 0.5);
        // A body is refused at once, not read first.
        if (c.code == 405 || c.code == 413) EXPECT_LT(got.seconds, 2.0);
    }
    // The live stream through the login: the board arrives.
    const Answer stream = Curl(base + "/stations/events", {"-u", login, "-N", "--max-time", "2"});
    EXPECT_NE(stream.body.find("event: board\ndata: {"), std::string::npos) << stream.body;
    // HTTPS only: plain HTTP on the port gets no page.
    const Answer plain =
        Curl("http://127.0.0.1:" + std::to_string(serve.Port()) + "/stations.json", {"-u", login});
    EXPECT_NE(plain.code, 200);
    EXPECT_EQ(plain.body.find("HND123"), std::string::npos);
    EXPECT_EQ(serve.Stop(SIGTERM, 5s), std::optional<int>(0));
    // The password shows nowhere in what it said.
    EXPECT_EQ(serve.Said().find(HttpsFiles::kPassword), std::string::npos);
}

TEST_F(SecureServe, UnsafeOptionsAreRefusedSayingWhatToAdd) {
    files_ = std::make_unique<HttpsFiles>(dir_);
    ASSERT_TRUE(files_->ready) << files_->problem;
    const std::string open = (dir_ / "open-key.pem").string();
    const std::string openUsers = (dir_ / "open-users").string();
    const std::string badUsers = (dir_ / "bad-users").string();
    fs::copy_file(files_->key, open);
    chmod(open.c_str(), 0644);
    fs::copy_file(files_->users, openUsers);
    chmod(openUsers.c_str(), 0640);
    std::ofstream(badUsers) << "foreman:" << files_->hashed << "\nforeman2 plaintext\n";
    chmod(badUsers.c_str(), 0600);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"network, nothing",
         {"--listen", "0.0.0.0:0"},
         2,
         "listening on 0.0.0.0 opens the pages to the network: add --tls-cert FILE --tls-key FILE"
         " and --users FILE (or --insecure, on a network you trust)"},
        {"network, TLS alone",
         {"--listen", "0.0.0.0:0", "--tls-cert", files_->cert, "--tls-key", files_->key},
         2,
         "add --users FILE (or --insecure"},
        {"network, logins alone",
         {"--listen", "0.0.0.0:0", "--users", files_->users},
         2,
         "add --tls-cert FILE --tls-key FILE (or --insecure"},
        {"a certificate without its key",
         {"--tls-cert", files_->cert},
         2,
         "--tls-cert and --tls-key go together"},
        {"a key others can read",
         {"--tls-cert", files_->cert, "--tls-key", open},
         1,
         "TLS key " + open +
             " can be read by others (mode 0644): let its owner alone read it"
             " (chmod 600 " +
             open + ")"},
        {"users others can read",
         {"--users", openUsers},
         1,
         "users file " + openUsers + " can be read by others (mode 0640)"},
        {"a users line without a hash",
         {"--users", badUsers},
         1,
         "users file " + badUsers + " line 2: not name:hash"},
        {"a key of another certificate",
         {"--tls-cert", files_->cert, "--tls-key", files_->users},
         1,
         "cannot use the certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"serve", "--results", db_};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramResult run = RunProgram(ZHAND_REPORT_PATH, args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("serving"), std::string::npos) << run.out;
    }
    // A trusted lab says so, and is served.
    const ProgramResult lab =
        RunProgram("/usr/bin/timeout", {"-s", "TERM", "3", ZHAND_REPORT_PATH, "serve", "--listen",
                                        "0.0.0.0:0", "--insecure", "--results", db_});
    EXPECT_NE(lab.out.find("serving http://0.0.0.0:"), std::string::npos) << lab.out << lab.err;
    EXPECT_NE(lab.out.find("stopped"), std::string::npos) << lab.out;
}

TEST(HashPassword, ReadsStandardInputAndMakesAnArgon2idHash) {
    const auto hash = [](const std::string& input) {
        return RunProgram(
            "/bin/sh", {"-c", "printf '" + input + "' | " + ZHAND_REPORT_PATH + " hash-password"});
    };
    const ProgramResult one = hash("s3cret\\n");
    const ProgramResult two = hash("s3cret");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_TRUE(one.out.starts_with("$argon2id$v=19$")) << one.out;
    // Salted: the same password twice is two hashes.
    EXPECT_NE(one.out, two.out);
    EXPECT_EQ(one.out.find("s3cret"), std::string::npos);
    const ProgramResult empty = hash("");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "zhand-report: no password on standard input\n");
}

}  // namespace
