#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/DateTime.h"

class Buffer;

// One audio or video frame as the recorder streams it: the 64-byte frame header and the
// frame's data. The data is not owned: after parsing it points into the packet the frame
// came from, and before sending it points at whatever the sender holds, so a frame must
// not outlive those bytes. The header layout is shared with the storage's media element;
// readFrom/writeTo give that storage form (the time in its own serialized form), which is
// how frames are queued inside the process. A plain value.
struct MediaFrame {
    uint16_t mediaType = 0;  // 0 video, 1 audio, 3 text-in
    uint16_t syncIndex = 0;  // index within the key group; 0 = key frame
    uint32_t syncKeyID = 0;  // the key group
    BitMask32 channelMask;
    uint32_t dataLength = 0;
    uint64_t mediaID = 0;
    DateTime time;
    uint16_t flag1 = 0;
    uint16_t flag0 = 0;
    uint32_t param32 = 0;
    uint64_t param64 = 0;
    BitMask32 linkedChannelMask;  // for audio: the video channels it belongs to
    uint32_t extraLength = 0;     // further data after the first dataLength bytes
    const uint8_t* data = nullptr;

    // Bytes of data that follow the header (computed without overflow).
    uint64_t payloadSize() const { return uint64_t{dataLength} + extraLength; }
    bool isKeyFrame() const { return syncIndex == 0; }

    // The 64-byte header in the storage form, at the cursor; the cursor moves past it.
    // The data pointer is left alone.
    void readFrom(Buffer& buffer);
    void writeTo(Buffer& buffer) const;
};
