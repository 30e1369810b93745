#include "TextTable.h"

#include <algorithm>

TextTable::TextTable(std::vector<std::string> header) : _header(std::move(header)) {}

void TextTable::addRow(std::vector<std::string> cells) {
    cells.resize(_header.size());
    for (std::string& cell : cells) {
        cell = printable(cell);
    }
    _rows.push_back(std::move(cells));
}

void TextTable::print(std::FILE* out) const {
    std::vector<size_t> widths;
    for (const std::string& title : _header) {
        widths.push_back(width(title));
    }
    for (const auto& row : _rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], width(row[i]));
        }
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) {
                line.append(widths[i] - width(cells[i]) + 2, ' ');
            }
        }
        std::fprintf(out, "%s\n", line.c_str());
    };
    printRow(_header);
    for (const auto& row : _rows) {
        printRow(row);
    }
}

std::string TextTable::printable(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        auto following = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte < 0x20 || byte == 0x7F) {
            result += '?';
        } else if (byte == 0xC2 && following >= 0x80 && following <= 0x9F) {
            // U+0080 to U+009F: the 8-bit control characters, which some terminals obey.
            result += '?';
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

size_t TextTable::width(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}
