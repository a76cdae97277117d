// The terminal: cursor placement, clearing, centred text and the keyboard.
// All screen output goes through stdout (printf and friends are fine); every
// cursor move, clear and key wait flushes it first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Prints 40 - n/2 blanks (n = length, line ends included), then the text.
void PrintCentered(std::string_view text);
// Moves the cursor to (row, column), both from 0 at the top left. True when
// the terminal took the output (the console's success flag).
bool MoveCursor(int row, int column);
// Blanks the screen (scroll-back included) and homes the cursor.
void ClearScreen();

// The form's key reader: waits for a key that yields a character and returns
// its code (Tab 9, Shift-Tab 10, Enter 13, Shift-Enter 14, Backspace 8, ESC 27,
// Ctrl-letter 1..26). Keys without a character are skipped.
int ReadKey();
// Discards every key typed ahead. (A key script is kept: its keys stand for
// keys typed later.)
void FlushKeys();

// True when a key is waiting; the key stays waiting.
bool KeyWaiting();
// Waits for one key and returns its character without echo (same decoding as
// ReadKey).
int GetKey();
// Blocks until a key is waiting or ms milliseconds have passed; the key stays
// waiting. Returns true when a key is waiting. Uses no CPU while it waits.
bool WaitForKey(int ms);
// Reads one line with echo and Backspace. Enter, or a bare line feed (the
// line end of input that is not a terminal), ends it and is not returned. A
// Tab is kept in the line, echoed as blanks up to the line's next 8-column
// stop; Shift-Tab and the other control keys are ignored.
std::string ReadLine();
// True once the keyboard has gone for good (the terminal hung up, standard
// input ended, or a key script ran dry); reads then return 27.
bool InputEnded();

// The console as the station's parts reach it: the functions above, plain
// output at the cursor, and the success flags of cursor moves and key reads
// passed on to the station's last result.
class Console {
  public:
    // Success flags go to *lastResult (nowhere with nullptr).
    void ReportTo(int* lastResult) { lastResult_ = lastResult; }

    void PrintCentered(std::string_view text) { ::PrintCentered(text); }
    void MoveCursor(int row, int column) { Report(::MoveCursor(row, column) ? 1 : 0); }
    void ClearScreen() { ::ClearScreen(); }
    int ReadKey();
    void FlushKeys() { ::FlushKeys(); }
    bool KeyWaiting() { return ::KeyWaiting(); }
    int GetKey() { return ::GetKey(); }
    bool WaitForKey(int ms) { return ::WaitForKey(ms); }
    std::string ReadLine() { return ::ReadLine(); }
    bool InputEnded() const { return ::InputEnded(); }

    // Text at the cursor, as it stands (never a format).
    void Print(std::string_view text);
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void PutChar(char c);
    void Flush();

    // Shows `text` centred on `row` (the row blanked first; "" only blanks
    // it) and puts the cursor back where it was.
    void ShowAside(int row, std::string_view text);
    // Blanks `row` and leaves the cursor at its start.
    void BlankRow(int row);

  private:
    void Report(int flag) {
        if (lastResult_ != nullptr) *lastResult_ = flag;
    }

    int* lastResult_ = nullptr;
};
