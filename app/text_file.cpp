#include "text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool ReadFileBytes(const std::string& name, std::string& bytes) {
    bytes.clear();
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        char chunk[65536];
        for (;;) {
            ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got > 0) {
                bytes.append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                ok = false;
                break;
            }
        }
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

std::string_view TextBeforeEndMark(std::string_view text) {
    return text.substr(0, text.find('\x1a'));
}

std::vector<std::string> SplitTextLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Every line ends at an LF or at the end of the text, so a CR last in
        // it belongs to the line end.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
    }
    return lines;
}
