// zhand-sim started and stopped as a user would: in a directory of its own,
// with its ready lines, its link, SIGTERM, and its refusals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "raw_port.h"
#include "temp_dir.h"

namespace zhandsim {
namespace {

using test::RawPort;
using test::TempDir;
using namespace std::chrono_literals;

// One run of the program with its standard output and error in pipes.
class Program {
  public:
    Program(const std::filesystem::path& dir, std::vector<std::string> args) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            if (chdir(dir.c_str()) != 0) _exit(127);
            std::vector<char*> argv{const_cast<char*>(ZHAND_SIM_EXE)};
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(ZHAND_SIM_EXE, argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // Reads standard output until it holds `text` or `ms` pass.
    bool WaitForOutput(const std::string& text, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{out_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[256];
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) return false;
            output.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Waits for the end; the exit status, or -1 after a signal.
    int Wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        char buffer[4096];
        for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;)
            output.append(buffer, static_cast<std::size_t>(n));
        for (ssize_t n; (n = read(err_, buffer, sizeof buffer)) > 0;)
            errors.append(buffer, static_cast<std::size_t>(n));
        return status_;
    }

    void Signal(int signal) { kill(pid_, signal); }

    std::string output;
    std::string errors;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int status_ = -1;
};

TEST(Program, ServesOnItsLinkUntilSigtermThenRemovesIt) {
    TempDir dir;
    Program sim(dir.path(), {"--port", "2", "--speed", "100"});
    ASSERT_TRUE(sim.WaitForOutput("zhand-sim: ready\n", 10000)) << sim.output;
    const std::filesystem::path link = dir.path() / "COM2";
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    const std::string device = std::filesystem::read_symlink(link).string();
    EXPECT_NE(sim.output.find("zhand-sim: COM2 -> " + device + "\n"), std::string::npos)
        << sim.output;

    RawPort port;
    ASSERT_TRUE(port.Open(link.string()));
    EXPECT_EQ(port.Exchange("1FGET MOV"), "1FGET MOV\r\n100\r\n=> ");
    port.Close();

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(Program, SigintStopsItToo) {
    TempDir dir;
    Program sim(dir.path(), {});
    ASSERT_TRUE(sim.WaitForOutput("ready", 10000));
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.path() / "COM1")));
}

TEST(Program, TracesAndAnnouncesItsFaults) {
    TempDir dir;
    Program sim(dir.path(), {"--trace", "--speed", "100", "--fault", "no-breakaway:2,from=3"});
    ASSERT_TRUE(sim.WaitForOutput("ready", 10000));
    EXPECT_NE(sim.output.find("fault no-breakaway:2,from=3,at=12500"), std::string::npos);
    RawPort port;
    ASSERT_TRUE(port.Open((dir.path() / "COM1").string()));
    port.Exchange("PGET TEMP");
    port.Close();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(sim.errors.find("zhand-sim: <- PGET TEMP"), std::string::npos) << sim.errors;
}

TEST(Program, RefusesToReplaceAFile) {
    TempDir dir;
    std::ofstream(dir.path() / "COM1") << "not a link";
    Program sim(dir.path(), {});
    EXPECT_EQ(sim.Wait(), 1);
    EXPECT_NE(sim.errors.find("not a symbolic link"), std::string::npos) << sim.errors;
    std::string content;
    std::getline(std::ifstream(dir.path() / "COM1"), content);
    EXPECT_EQ(content, "not a link");
}

// The program paces its bytes at the line's rate unless told --instant;
// --pace, the default, is still accepted.
TEST(Program, PacesItsBytesUnlessInstant) {
    const struct {
        std::vector<std::string> args;
        bool paced;
    } cases[] = {{{}, true}, {{"--pace"}, true}, {{"--instant"}, false}};
    for (const auto& c : cases) {
        const std::string name = c.args.empty() ? "(default)" : c.args[0];
        TempDir dir;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--speed", "100"});
        Program sim(dir.path(), args);
        ASSERT_TRUE(sim.WaitForOutput("zhand-sim: ready\n", 10000)) << name << sim.output;
        RawPort port;
        ASSERT_TRUE(port.Open((dir.path() / "COM1").string())) << name;
        ASSERT_TRUE(port.SetRate(9600)) << name;
        port.Exchange("");
        const auto start = std::chrono::steady_clock::now();
        const std::string list = port.Exchange("FLISTAV");
        const auto elapsed = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(list.ends_with("=> ")) << name << list;
        // ten bits a byte at 9600 baud: the time the reply takes on a wire
        const auto wire = std::chrono::microseconds(1041 * list.size());
        if (c.paced)
            EXPECT_GE(elapsed, wire) << name;
        else
            EXPECT_LT(elapsed, wire / 2) << name;
    }
}

TEST(Program, HelpDocumentsTheFaults) {
    TempDir dir;
    Program sim(dir.path(), {"--help"});
    EXPECT_EQ(sim.Wait(), 0);
    for (const char* text : {"--port", "--speed", "--instant", "--pace", "--trace", "--fault SPEC",
                             "jam-open:F", "spread-short", "hangup", "from=N", "once=N"})
        EXPECT_NE(sim.output.find(text), std::string::npos) << text;
}

TEST(Program, BadArgumentsEndWithStatus2) {
    const std::vector<std::vector<std::string>> cases{
        {"--port", "0"},         {"--port", "10"}, {"--speed", "0"}, {"--speed", "x"},
        {"--fault", "jam-open"}, {"--fault"},      {"--bogus"}};
    for (const auto& args : cases) {
        TempDir dir;
        Program sim(dir.path(), args);
        EXPECT_EQ(sim.Wait(), 2) << args[0];
        EXPECT_NE(sim.errors.find("zhand-sim: "), std::string::npos) << args[0];
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir.path() / "COM1")));
    }
}

}  // namespace
}  // namespace zhandsim
