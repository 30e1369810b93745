#include "app/archiving/LastVideoRecord.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/TextOf.h"

namespace {

// The unsigned decimal numbers of `text` between the separators, or false when anything
// else stands there or a number does not fit `max`.
bool numbersOf(const std::string& text, const char* separators, uint64_t max, std::vector<uint64_t>& out) {
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        if (std::strchr(separators, text[i]) != nullptr) {
            ++i;
            continue;
        }
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        uint64_t value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            uint64_t digit = static_cast<uint64_t>(text[i] - '0');
            if (value > (max - digit) / 10) {
                return false;
            }
            value = value * 10 + digit;
            ++i;
        }
        out.push_back(value);
    }
    return true;
}

}  // namespace

bool LastVideoRecord::isValid() const {
    return sectionID != 0 && position.positionB != 0 && mediaID != 0 && time.isValid();
}

std::string LastVideoRecord::positionText() const {
    char text[64];
    std::snprintf(text, sizeof text, "%u : (%u, %u)", position.positionA, position.positionB, position.positionC);
    return text;
}

std::string LastVideoRecord::sectionIDText() const {
    return std::to_string(sectionID);
}

std::string LastVideoRecord::timeText() const {
    return textOf(time);
}

std::string LastVideoRecord::mediaIDText() const {
    return std::to_string(mediaID);
}

bool LastVideoRecord::parsePosition(const std::string& text) {
    std::vector<uint64_t> n;
    if (!numbersOf(text, " :(),", UINT32_MAX, n) || n.size() != 3) {
        return false;
    }
    position = {static_cast<uint32_t>(n[0]), static_cast<uint32_t>(n[1]), static_cast<uint32_t>(n[2])};
    return true;
}

bool LastVideoRecord::parseSectionID(const std::string& text) {
    std::vector<uint64_t> n;
    if (!numbersOf(text, " ", UINT32_MAX, n) || n.size() != 1) {
        return false;
    }
    sectionID = static_cast<uint32_t>(n[0]);
    return true;
}

bool LastVideoRecord::parseTime(const std::string& text) {
    std::vector<uint64_t> n;
    if (!numbersOf(text, " /:", 9999, n) || n.size() != 6 || n[1] < 1 || n[1] > 12 || n[2] < 1 || n[2] > 31 ||
        n[3] > 23 || n[4] > 59 || n[5] > 59) {
        return false;
    }
    DateTime parsed(static_cast<int>(n[0]), static_cast<int>(n[1]), static_cast<int>(n[2]), static_cast<int>(n[3]),
                    static_cast<int>(n[4]), static_cast<int>(n[5]));
    if (!parsed.isValid()) {
        return false;
    }
    time = parsed;
    return true;
}

bool LastVideoRecord::parseMediaID(const std::string& text) {
    std::vector<uint64_t> n;
    if (!numbersOf(text, " ", UINT64_MAX, n) || n.size() != 1) {
        return false;
    }
    mediaID = n[0];
    return true;
}
