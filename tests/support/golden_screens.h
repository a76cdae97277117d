// The station's screens as the technician sees them, row by row, written
// once for every suite that checks them: the unit tests of the form against
// a model of the terminal, and the end-to-end tests against tmux.
#pragma once

#include <string>
#include <vector>

namespace golden {

// The first question, on row 0; the answer is typed after it at column 41.
inline const std::string kPortPrompt = "Please select a communications port [1]:";

// Row 0 of the form: the title, then from column 50 the clock as ctime()
// writes it.
inline const std::string kTitle = "ZorvathHand Test Application v3.0";
inline constexpr std::size_t kClockColumn = 50;
inline const std::string kClockPattern =
    "[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}";

inline std::string TitleRow(const std::string& clock) {
    return kTitle + std::string(kClockColumn - kTitle.size(), ' ') + clock;
}

// The last row of the form's legend (row 20), drawn last.
inline const std::string kFormLegend =
    "     <CTRL><R> Runs selected test  <CTRL><A> Runs all tests  <CTRL><Q> Quit";

// Rows 0 to 22 of the form as drawn with the default identity and counts
// and no field under edit (every field right-aligned); `clock` on row 0.
inline std::vector<std::string> MainForm(const std::string& clock) {
    return {
        TitleRow(clock),
        "",
        "Hand Serial Number [  HND000]",
        "User Initials      [      --]",
        "",
        "        Cycles          Test",
        "        ------          ----",
        "        [       2]      Finger Movement",
        "        [       1]      Cable Tension/BreakAway",
        "        [       1]      Strain Gages",
        "        [     500]      Vibration Grasp",
        "        [    1500]      Multi-Axis",
        "        [      20]      Encoder slip - Grasp",
        "        [      20]      Encoder slip - Spread",
        "        [       1]      Fingerprint",
        "        [     500]      After-Freezer",
        "        [       1]      Parameter Check",
        "",
        "",
        "           <TAB>, <SHIFT><TAB> Selects field  <CTRL><T> Terminal mode",
        kFormLegend,
        "",
        "",
    };
}

// The form as the station shows it once started: field 1, the serial
// number, under edit and so left-aligned; the cursor at (2, 20).
inline std::vector<std::string> MainFormAtStart(const std::string& clock) {
    std::vector<std::string> rows = MainForm(clock);
    rows[2] = "Hand Serial Number [HND000  ]";
    return rows;
}

// The first row of terminal mode (Ctrl-T from the form); the serial number
// follows after three tabs.
inline const std::string kTerminalMode = "TERMINAL MODE - Type 'X' to eXit.";

}  // namespace golden
