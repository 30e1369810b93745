#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Rows of text printed in aligned columns for people reading a terminal. Control
// characters in cells (from names a user typed) are shown as '?', so that stored text
// can never move the cursor or change the terminal's state.
class TextTable {
public:
    explicit TextTable(std::vector<std::string> header);

    void addRow(std::vector<std::string> cells);
    bool empty() const { return _rows.empty(); }
    // Columns are separated by two blanks; the last one is not padded.
    void print(std::FILE* out) const;

    // `text` with every control character (C0, DEL and C1) replaced by '?'.
    static std::string printable(const std::string& text);

private:
    // Characters as a terminal counts them: UTF-8 continuation bytes take no room.
    static size_t width(const std::string& text);

    std::vector<std::string> _header;
    std::vector<std::vector<std::string>> _rows;
};
