#include "network/protocol/playback/TextInListEntry.h"

#include <cstring>

void TextInListEntry::setText(const char* value) {
    std::memset(text, 0, sizeof text);
    if (value != nullptr) std::strncpy(text, value, sizeof text - 1);
}
