// The main form: the serial number, the initials and the ten tests' cycle
// counts in twelve fields, and the keys that run tests, open terminal mode and
// quit.
#pragma once

#include <string>

struct Station;

// The form's own state between keys.
struct FormState {
    int field = 1;           // the field under edit, 1..12
    std::string editBuffer;  // its text
    int editPos = 0;         // the insertion point, 0..8
    bool quitRequested = false;
    std::string shownStoreProblem;  // the store's line on row 21 ("" for none)
};

// Draws the form and runs the key loop until Ctrl-Q (or until the keyboard
// has gone), leaving the cursor at row 22, column 0.
void FormLoop(Station& station);
// Clears the screen and draws the whole form.
void DrawMainScreen(Station& station);
// Commits the field being left (0: none) and enters the other; the same field
// twice commits and re-enters it in place.
void ChangeField(Station& station, int leaving, int entering);
// Runs every selected test (cycle count not 0) in the order of the slots.
void RunAllTests(Station& station);
// Acts on one key as the form loop does.
void HandleFormKey(Station& station, int key);
// The form's state, for the loop and for tests.
FormState& Form();
