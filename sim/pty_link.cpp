#include "pty_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zhandsim {

bool Pty::Open(std::string& error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    std::vector<char> name(128);
    if (ptsname_r(master_, name.data(), name.size()) != 0) {
        error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        Close();
        return false;
    }
    slavePath_ = name.data();
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios settings{};
    if (slave_ < 0 || tcgetattr(slave_, &settings) != 0) {
        error = "cannot open " + slavePath_ + ": " + std::strerror(errno);
        Close();
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    tcsetattr(slave_, TCSANOW, &settings);
    // Writes to the master never block: with nobody reading the line, bytes
    // are lost as they would be on a real wire.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool Pty::ClearAbandonedExclusive() {
    int exclusive = 0;
    if (slave_ < 0 || ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return false;
    // A station holds its lock for as long as it has the port open.
    if (flock(slave_, LOCK_EX | LOCK_NB) != 0) return false;
    flock(slave_, LOCK_UN);
    return ioctl(slave_, TIOCNXCL) == 0;
}

void Pty::Close() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
}

bool CreateLink(const std::filesystem::path& link, const std::string& target, std::string& error) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode)) {
            error = link.string() + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        if (unlink(link.c_str()) != 0) {
            error = "cannot remove the old link " + link.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void RemoveLink(const std::filesystem::path& link, const std::string& target) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size() - 1);
    if (length < 0) return;
    if (std::string(buffer.data(), static_cast<std::size_t>(length)) == target)
        unlink(link.c_str());
}

}  // namespace zhandsim
