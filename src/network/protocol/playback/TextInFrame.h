#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"
#include "network/protocol/playback/PlaybackLayout.h"

// A text-in frame (a line of text from a point-of-sale or similar device, recorded with
// the video) as the recorder streams it. The text is always NUL-terminated inside its 64
// bytes. A plain value.
struct TextInFrame {
    uint16_t mediaType = PlaybackLayout::MediaTypeTextIn;
    uint16_t syncIndex = 0;
    uint32_t syncKeyID = 0;
    BitMask32 channelMask;
    uint64_t mediaID = 0;
    DateTime time;
    BitMask32 linkedChannelMask;
    uint32_t sectionID = 0;
    uint32_t flags = 0;
    char text[PlaybackLayout::TextInTextSize] = {};

    // Keeps at most 63 characters and always terminates the text.
    void setText(const char* value);
    friend bool operator==(const TextInFrame&, const TextInFrame&) = default;
};
