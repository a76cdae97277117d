// Turns the bytes a terminal sends into the form's key codes.
#pragma once

#include <deque>
#include <string_view>

// Decoding: DEL (127) and Ctrl-H give 8; Enter gives 13; Ctrl-letters give
// 1..26; ESC [ Z gives 10 (Shift-Tab); Shift-Enter as reported by
// modifyOtherKeys (ESC [ 27;2;13 ~) or the CSI-u protocol (ESC [ 13;2 u) gives
// 14, Shift-Tab in those forms 10; keypad Enter (ESC O M) gives 13; a lone ESC
// gives 27 once the quiet time has passed (Timeout); ESC followed by another
// character (Alt and a key) gives the character; other escape sequences
// (arrows, function keys) and NUL are keys without a character and are
// dropped. Bytes above 127 come out negative, as signed 8-bit codes.
class KeyDecoder {
  public:
    // Adds bytes read from the terminal and decodes every complete key.
    void Feed(std::string_view bytes);
    // Nothing more arrived within the quiet time: a lone ESC becomes 27, a
    // cut-off escape sequence is dropped.
    void Timeout();
    // True when bytes of an unfinished escape sequence wait for more.
    bool Pending() const { return !bytes_.empty(); }
    // True when a decoded key waits.
    bool HasKey() const { return !keys_.empty(); }
    // Takes the next decoded key; call only when HasKey().
    int TakeKey();
    // True when the next key is a bare line feed byte: Ctrl-J, or the line
    // end of input that is not a terminal. Shift-Tab gives the same code 10
    // and is none. Call only when HasKey().
    bool LineFeedNext() const { return keys_.front().lineFeed; }
    // Drops every decoded key and every byte waiting.
    void Clear();

  private:
    void Decode();
    // Decodes one key at the front of bytes_; returns the bytes used, 0 when
    // the sequence is not complete yet.
    std::size_t DecodeOne();
    std::size_t DecodeCsi();

    struct Key {
        int code;
        bool lineFeed;
    };
    void Push(int code, bool lineFeed = false) { keys_.push_back({code, lineFeed}); }

    std::deque<unsigned char> bytes_;
    std::deque<Key> keys_;
};
