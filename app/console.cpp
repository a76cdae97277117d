#include "console.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <deque>

#include "clock.h"
#include "key_decoder.h"
#include "seams.h"

namespace {

// A lone ESC is told from the start of an escape sequence by this much quiet.
constexpr int kEscapeQuietMs = 50;

struct Keyboard {
    bool scripted = false;
    std::deque<int> script;
    KeyDecoder decoder;
    std::uint64_t lastByteMs = 0;  // when the last byte arrived
    bool ended = false;            // the terminal is gone, or the script ran dry
};
Keyboard keyboard;

std::uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// Reads what the terminal has, waiting at most timeoutMs for it (-1: no limit).
void ReadTerminal(int timeoutMs) {
    if (keyboard.ended) return;
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, timeoutMs);
    if (ready < 0) {
        if (errno != EINTR) keyboard.ended = true;
        return;
    }
    if (ready == 0) return;
    if ((fd.revents & POLLIN) == 0) {
        keyboard.ended = true;  // hung up or not readable
        return;
    }
    char bytes[256];
    ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    if (n > 0) {
        keyboard.lastByteMs = MonotonicMs();
        keyboard.decoder.Feed(std::string_view(bytes, static_cast<std::size_t>(n)));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        keyboard.ended = true;
    }
}

// Milliseconds until an unfinished escape sequence counts as ended.
int EscapeQuietLeft() {
    std::uint64_t since = MonotonicMs() - keyboard.lastByteMs;
    return since >= kEscapeQuietMs ? 0 : static_cast<int>(kEscapeQuietMs - since);
}

// True when a key is ready on the terminal (or the terminal is gone).
bool TerminalKeyReady() {
    ReadTerminal(0);
    if (keyboard.decoder.Pending() && (keyboard.ended || EscapeQuietLeft() == 0)) {
        keyboard.decoder.Timeout();
    }
    return keyboard.decoder.HasKey() || keyboard.ended;
}

bool WaitTerminal(int ms) {
    std::uint64_t start = MonotonicMs();
    for (;;) {
        if (TerminalKeyReady()) return true;
        int wait = -1;
        if (ms >= 0) {
            std::uint64_t spent = MonotonicMs() - start;
            if (spent >= static_cast<std::uint64_t>(ms)) return false;
            wait = static_cast<int>(static_cast<std::uint64_t>(ms) - spent);
        }
        if (keyboard.decoder.Pending()) {
            int quiet = EscapeQuietLeft() + 1;
            if (wait < 0 || quiet < wait) wait = quiet;
        }
        ReadTerminal(wait);
    }
}

struct Keypress {
    int code;
    bool endsLine;  // Enter, or a bare line feed; never Shift-Tab, whose code is 10 too
};

// The next key, waiting for it; 27 once the input has ended. In a key script
// 10 is Shift-Tab: only 13 ends a line there.
Keypress NextKeypress() {
    std::fflush(stdout);
    if (keyboard.scripted) {
        if (keyboard.script.empty()) {
            keyboard.ended = true;
            return {27, false};
        }
        int key = keyboard.script.front();
        keyboard.script.pop_front();
        return {key, key == 13};
    }
    WaitTerminal(-1);
    if (!keyboard.decoder.HasKey()) return {27, false};
    bool lineFeed = keyboard.decoder.LineFeedNext();
    int key = keyboard.decoder.TakeKey();
    return {key, key == 13 || lineFeed};
}

int NextKey() {
    return NextKeypress().code;
}

// Columns the typed text takes on the screen, its first character at column
// 0: one for each character (a UTF-8 sequence is one), a Tab to the next
// multiple of eight.
int Columns(const std::string& text) {
    int columns = 0;
    for (char c : text) {
        if (c == '\t')
            columns += 8 - columns % 8;
        else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++columns;
    }
    return columns;
}

void PrintBlanks(int count) {
    for (int i = 0; i < count; ++i) std::putchar(' ');
}

}  // namespace

void PrintCentered(std::string_view text) {
    int n = static_cast<int>(text.size());
    PrintBlanks(40 - n / 2);
    std::fwrite(text.data(), 1, text.size(), stdout);
}

bool MoveCursor(int row, int column) {
    if (row < 0) row = 0;
    if (column < 0) column = 0;
    std::printf("\x1b[%d;%dH", row + 1, column + 1);
    return std::fflush(stdout) == 0;
}

void ClearScreen() {
    std::fputs("\x1b[H\x1b[2J\x1b[3J", stdout);
    std::fflush(stdout);
}

int ReadKey() {
    return NextKey();
}

void FlushKeys() {
    if (keyboard.scripted) return;  // scripted keys stand for keys typed later
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
    do {
        keyboard.decoder.Clear();
        ReadTerminal(0);
    } while (keyboard.decoder.HasKey() || keyboard.decoder.Pending());
}

bool KeyWaiting() {
    std::fflush(stdout);
    if (keyboard.scripted) return !keyboard.script.empty();
    return TerminalKeyReady();
}

int GetKey() {
    return NextKey();
}

bool WaitForKey(int ms) {
    std::fflush(stdout);
    if (keyboard.scripted) {
        if (!keyboard.script.empty()) return true;
        if (ms < 0) {
            keyboard.ended = true;
            return true;  // nothing will ever come: let the caller read its 27
        }
        if (FakeClockRunning()) {
            AdvanceFakeClock(static_cast<std::uint32_t>(ms));
        } else {
            poll(nullptr, 0, ms);
        }
        return false;
    }
    if (FakeClockRunning() && ms >= 0) {
        if (TerminalKeyReady()) return true;
        AdvanceFakeClock(static_cast<std::uint32_t>(ms));
        return false;
    }
    return WaitTerminal(ms);
}

std::string ReadLine() {
    std::string line;
    for (;;) {
        Keypress key = NextKeypress();
        if (key.endsLine || (key.code == 27 && keyboard.ended)) break;
        if (key.code == 8) {
            if (line.empty()) continue;
            int before = Columns(line);
            // Drop a whole UTF-8 character: its continuation bytes and its lead.
            while (line.size() > 1 && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) {
                line.pop_back();
            }
            line.pop_back();
            for (int n = before - Columns(line); n > 0; --n) std::fputs("\b \b", stdout);
        } else if (key.code == 9) {
            // Kept in the line; shown as blanks, which Backspace can take back.
            int blanks = 8 - Columns(line) % 8;
            line.push_back('\t');
            for (int n = 0; n < blanks; ++n) std::putchar(' ');
        } else if (key.code >= 32 || key.code < 0) {
            char c = static_cast<char>(key.code);
            line.push_back(c);
            std::putchar(c);
        }
    }
    std::putchar('\n');
    std::fflush(stdout);
    return line;
}

bool InputEnded() {
    return keyboard.ended;
}

void UseKeyScript(const std::string& keys) {
    keyboard.scripted = true;
    keyboard.ended = false;
    keyboard.script.clear();
    PushKeys(keys);
}

void PushKeys(const std::string& keys) {
    for (char c : keys) keyboard.script.push_back(static_cast<signed char>(c));
    keyboard.ended = false;
}

void UseTerminalKeys() {
    keyboard.scripted = false;
    keyboard.script.clear();
    keyboard.ended = false;
    keyboard.decoder.Clear();
}

int Console::ReadKey() {
    const int key = ::ReadKey();
    Report(::InputEnded() ? 0 : 1);
    return key;
}

void Console::Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void Console::Printf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void Console::PutChar(char c) {
    std::putchar(c);
}

void Console::Flush() {
    std::fflush(stdout);
}

void Console::ShowAside(int row, std::string_view text) {
    std::fputs(
        "\x1b"
        "7",
        stdout);  // keep the cursor
    MoveCursor(row, 0);
    std::fputs("\x1b[2K", stdout);
    if (!text.empty()) ::PrintCentered(text);
    std::fputs(
        "\x1b"
        "8",
        stdout);
    std::fflush(stdout);
}

void Console::BlankRow(int row) {
    MoveCursor(row, 0);
    std::fputs("\x1b[2K", stdout);
}
