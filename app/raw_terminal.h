// The station's terminal: raw keyboard input with the terminal's own settings
// restored on every way out.
#pragma once

// Switches standard input to raw input (no line editing, no echo, no flow
// control, Enter as 13) while output processing stays on. The saved settings
// come back at exit, on SIGINT, SIGTERM, SIGHUP and SIGQUIT, and while the
// program is stopped with Ctrl-Z; raw input returns after fg. False when
// standard input is not a terminal or cannot be set.
bool EnterRawMode();
// Puts the terminal's own settings back (safe to call more than once).
void RestoreTerminal();
// The terminal's size; false when it cannot be read.
bool TerminalSize(int* rows, int* columns);
