#include "unsaved_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>

#include "run_ids.h"

namespace results {

namespace {

// Writes all of `text` at the end of `fd`; false on any shortfall.
bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Appends `text` whole, or leaves the file as it was.
bool AppendWhole(const std::string& path, std::string text) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const off_t before = lseek(fd, 0, SEEK_END);
    char last = '\n';
    // A line a crash cut short must not be glued to the next one: it is
    // ended here, and found unreadable when the file is loaded.
    if (before > 0 && pread(fd, &last, 1, before - 1) == 1 && last != '\n') text.insert(0, "\n");
    const bool written = before >= 0 && WriteAll(fd, text);
    if (!written && before >= 0 && ftruncate(fd, before) != 0) {
        // Nothing more can be done; the next load names what is left.
    }
    const bool closed = close(fd) == 0;
    // A file made for lines that could not be written holds nothing.
    if (!written && before == 0) unlink(path.c_str());
    return written && closed;
}

std::optional<std::string> NamedRun(const std::string& line) {
    static const std::regex run(R"re("run"\s*:\s*"([^"]+)")re");
    std::smatch match;
    if (std::regex_search(line, match, run)) return match[1].str();
    return std::nullopt;
}

}  // namespace

bool AppendUnsaved(const std::string& path, std::span<const Entry> entries) {
    std::string lines;
    for (const Entry& entry : entries) lines += ToJson(entry) + "\n";
    return AppendWhole(path, std::move(lines));
}

bool ReadUnsaved(const std::string& path, const std::string& badPath, UnsavedContents* contents,
                 std::string* error) {
    contents->entries.clear();
    contents->badLines.clear();
    std::ifstream file(path, std::ios::binary);
    if (!file) return true;
    struct Bad {
        int line;
        std::string text;
        std::size_t at;  // entries read before it
    };
    std::vector<Bad> bad;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty()) continue;
        if (auto entry = FromJson(line)) {
            contents->entries.push_back(std::move(*entry));
        } else {
            bad.push_back({number, line, contents->entries.size()});
        }
    }
    if (bad.empty()) return true;
    std::string aside;
    for (const Bad& b : bad) aside += b.text + "\n";
    if (!AppendWhole(badPath, aside)) {
        if (error != nullptr) *error = std::string("cannot keep unreadable lines aside: ") +
                                       std::strerror(errno);
        contents->entries.clear();
        return false;
    }
    // Each gap becomes an event of its run, after the facts read so far.
    std::vector<Entry> withGaps;
    std::size_t next = 0;
    for (const Bad& b : bad) {
        for (; next < b.at; ++next) withGaps.push_back(std::move(contents->entries[next]));
        std::optional<std::string> run = NamedRun(b.text);
        // A line after a run's end more likely began another run.
        if (!run && b.at > 0 && !std::holds_alternative<RunEnd>(withGaps.back())) {
            run = RunOf(withGaps.back());
        }
        if (!run && b.at < contents->entries.size()) run = RunOf(contents->entries[b.at]);
        contents->badLines.push_back(b.line);
        if (!run || run->empty()) continue;  // a station's beat belongs to no run
        Event gap;
        gap.run = *run;
        // Past any seq a run can reach, one apart per line of the file.
        gap.seq = 1'000'000'000 + b.line;
        gap.at = NowIso();
        gap.kind = kRecordGap;
        gap.text = "Line " + std::to_string(b.line) + " of " + path +
                   " could not be read; kept in " + badPath;
        withGaps.push_back(std::move(gap));
    }
    for (; next < contents->entries.size(); ++next) {
        withGaps.push_back(std::move(contents->entries[next]));
    }
    contents->entries = std::move(withGaps);
    return true;
}

}  // namespace results
