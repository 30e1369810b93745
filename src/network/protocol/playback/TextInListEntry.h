#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "network/protocol/playback/PlaybackLayout.h"

// One entry of a recorder's text-in list. The three numbered parameters are the recorder's
// own (the simulated recorder sends the section, the key group and the index in it); the
// client passes them on unchanged. The text is kept NUL-terminated. A plain value.
struct TextInListEntry {
    uint64_t mediaID = 0;
    uint32_t param1 = 0;
    DateTime time;
    uint32_t param2 = 0;
    uint16_t param3 = 0;
    BitMask32 channels;
    char text[PlaybackLayout::TextInListTextSize + 1] = {};

    // Keeps at most 63 characters and always terminates the text.
    void setText(const char* value);
    friend bool operator==(const TextInListEntry&, const TextInListEntry&) = default;
};
