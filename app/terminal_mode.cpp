#include "terminal_mode.h"

// Not built yet: returns straight to the form.
void TerminalMode() {}
