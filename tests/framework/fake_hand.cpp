#include "fake_hand.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

FakeHand::FakeHand() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::abort();
    devicePath = ptsname(master);
    slave = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) std::abort();
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    thread = std::thread([this] { Serve(); });
}

FakeHand::~FakeHand() {
    stop = true;
    thread.join();
    close(slave);
    close(master);
}

void FakeHand::SetHandler(Handler h) {
    std::lock_guard lock(mutex);
    handler = std::move(h);
}

std::vector<std::string> FakeHand::TakeCommands() {
    std::lock_guard lock(mutex);
    std::vector<std::string> taken;
    taken.swap(commands);
    return taken;
}

void FakeHand::Serve() {
    std::string line;
    while (!stop) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0) continue;
        char byte = 0;
        if (read(master, &byte, 1) != 1) continue;
        if (byte != '\r') {
            line += byte;
            continue;
        }
        std::optional<std::string> answer;
        {
            std::lock_guard lock(mutex);
            commands.push_back(line);
            answer = handler ? handler(line) : std::optional<std::string>("");
        }
        if (answer) {
            std::string out = line + "\r\n" + *answer + "\r\n=> ";
            if (write(master, out.data(), out.size()) < 0) {
                // the station closed the line; the next command reopens it
            }
        }
        line.clear();
    }
}
