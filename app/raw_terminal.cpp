#include "raw_terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>

namespace {

termios saved{};
termios raw{};
volatile sig_atomic_t haveSaved = 0;
volatile sig_atomic_t rawActive = 0;

void ApplyRaw() {
    if (!haveSaved) return;
    // A stopped program continued in the background must not grab the terminal.
    if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) rawActive = 1;
}

void ApplySaved() {
    if (!haveSaved) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    rawActive = 0;
}

void OnFatalSignal(int sig) {
    ApplySaved();
    signal(sig, SIG_DFL);
    raise(sig);
}

void OnStop(int) {
    bool wasRaw = rawActive;
    ApplySaved();
    signal(SIGTSTP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    // Continued (fg): back to raw input.
    sigprocmask(SIG_BLOCK, &set, nullptr);
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
    if (wasRaw) ApplyRaw();
}

void OnContinue(int) {
    if (haveSaved && !rawActive) ApplyRaw();
}

void Install(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

}  // namespace

bool EnterRawMode() {
    if (!isatty(STDIN_FILENO)) return false;
    if (!haveSaved) {
        if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
        raw = saved;
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP);
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        haveSaved = 1;
        std::atexit(RestoreTerminal);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) Install(sig, OnFatalSignal);
        Install(SIGTSTP, OnStop);
        Install(SIGCONT, OnContinue);
    }
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
    rawActive = 1;
    return true;
}

void RestoreTerminal() {
    ApplySaved();
}

bool TerminalSize(int* rows, int* columns) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return false;
    *rows = size.ws_row;
    *columns = size.ws_col;
    return true;
}
