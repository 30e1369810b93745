#pragma once

#include "network/protocol/playback/TextInFrame.h"

class Buffer;

// The 128-byte record form of a text-in frame, the same bytes the storage's text-in
// element uses (with its storage position left zero): how text-in frames travel through
// a media queue. Layout: u16 media type, u16 sync index, u32 sync key, u32 channels,
// 4 reserved, u64 media ID, 8-byte time, 8-byte position, 8 reserved, u32 linked
// channels, u32 section, u32 flags, 64 bytes of text, 4 reserved.
class TextInRecord {
public:
    static constexpr int Size = 128;

    static void write(Buffer& buffer, const TextInFrame& frame);
    static void read(Buffer& buffer, TextInFrame& frame);
};
