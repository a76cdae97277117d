// A small model of the terminal the station draws on: enough of VT100 to
// place the form's text (cursor moves, clears, line ends, tabs, backspace) so
// tests can read rows and columns as the technician sees them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class Screen {
  public:
    explicit Screen(int rows = 25, int columns = 80)
        : rows_(rows), columns_(columns), cells_(rows, std::string(columns, ' ')) {}

    void Write(std::string_view output) {
        for (std::size_t i = 0; i < output.size(); ++i) {
            char c = output[i];
            if (c == '\x1b' && i + 1 < output.size() && output[i + 1] == '[') {
                i = Sequence(output, i + 2);
            } else if (c == '\n') {
                col_ = 0;  // the terminal's output processing makes it CR LF
                LineFeed();
            } else if (c == '\r') {
                col_ = 0;
            } else if (c == '\t') {
                col_ = std::min(columns_ - 1, (col_ / 8 + 1) * 8);
            } else if (c == '\b') {
                if (col_ > 0) --col_;
            } else if (static_cast<unsigned char>(c) >= ' ') {
                if (col_ >= columns_) {
                    col_ = 0;
                    LineFeed();
                }
                cells_[row_][col_++] = c;
            }
        }
    }

    // Row r without its trailing blanks.
    std::string Row(int r) const {
        std::string text = cells_[r];
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    // Row r as is, all columns.
    const std::string& Cells(int r) const { return cells_[r]; }
    int CursorRow() const { return row_; }
    int CursorColumn() const { return col_; }
    int clears = 0;

  private:
    void LineFeed() {
        if (row_ + 1 < rows_) {
            ++row_;
        } else {
            cells_.erase(cells_.begin());
            cells_.push_back(std::string(columns_, ' '));
        }
    }

    std::size_t Sequence(std::string_view s, std::size_t i) {
        std::vector<int> n{0};
        for (; i < s.size(); ++i) {
            char c = s[i];
            if (c >= '0' && c <= '9') {
                n.back() = n.back() * 10 + (c - '0');
            } else if (c == ';') {
                n.push_back(0);
            } else {
                if (c == 'H') {
                    row_ = std::max(1, n[0]) - 1;
                    col_ = n.size() > 1 ? std::max(1, n[1]) - 1 : 0;
                } else if (c == 'J' && n[0] == 2) {
                    for (std::string& line : cells_) line.assign(columns_, ' ');
                    ++clears;
                }
                return i;
            }
        }
        return i;
    }

    int rows_;
    int columns_;
    std::vector<std::string> cells_;
    int row_ = 0;
    int col_ = 0;
};
