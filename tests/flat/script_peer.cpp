#include "script_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

ScriptPeer::ScriptPeer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zhand-flat-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        if (master >= 0) close(master);
        return;
    }
    const char* slaveName = ptsname(master);
    // Holding the slave open keeps the master readable while the driver has
    // not opened the port yet; raw so that nothing is echoed by the line
    // discipline before the driver sets its own mode.
    slave_ = slaveName != nullptr ? open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave_ < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0 ||
        symlink(slaveName, (dir_ + "/COM1").c_str()) != 0) {
        close(master);
        return;
    }
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    master_ = master;
    thread_ = std::thread([this] { Serve(); });
}

ScriptPeer::~ScriptPeer() {
    if (thread_.joinable()) {
        char stop = 0;
        (void)!write(stopPipe_[1], &stop, 1);
        thread_.join();
    }
    for (int fd : {master_, slave_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0) close(fd);
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void ScriptPeer::Answer(const std::string& command, const std::string& reply) {
    std::lock_guard lock(mutex_);
    replies_[command] = reply;
}

std::vector<std::string> ScriptPeer::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(received_, {});
}

void ScriptPeer::Serve() {
    std::string line;
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        char byte;
        if (read(master_, &byte, 1) != 1) continue;
        if (byte != '\r') {
            line += byte;
            continue;
        }
        Respond(line);
        line.clear();
    }
}

void ScriptPeer::Respond(const std::string& command) {
    std::string reply;
    {
        std::lock_guard lock(mutex_);
        received_.push_back(command + "\r");
        auto it = replies_.find(command);
        if (it != replies_.end()) reply = it->second;
    }
    std::string out = command + "\r\n" + reply + "\r\n=> ";
    (void)!write(master_, out.data(), out.size());
}
