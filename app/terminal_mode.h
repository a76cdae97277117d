// Terminal mode: typed lines go to the hand; BATCH, EEPROM, FIRMWARE and X.
#pragma once

struct Station;

// Runs terminal mode until the technician types X; returns to the form.
void TerminalMode(Station& station);
