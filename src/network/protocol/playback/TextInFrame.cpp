#include "network/protocol/playback/TextInFrame.h"

#include <cstring>

void TextInFrame::setText(const char* value) {
    std::memset(text, 0, sizeof text);
    if (value != nullptr) std::strncpy(text, value, sizeof text - 1);
}
