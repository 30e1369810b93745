#pragma once

#include <cstring>

#include "recorder-sim/recording/SyntheticRecording.h"
#include "storage/MediaElement.h"

// A frame of the simulated recorder's synthetic recording as the archiver hands it to the
// recorder: a MediaElement whose payload points at the frame's bytes (valid while the
// frame lives), text-in carrying its text.
inline MediaElement elementOf(const SyntheticFrame& f) {
    MediaElement e;
    if (f.isTextIn()) {
        e.setMediaType(TimelineLinkedElement::TextIn);
        e.setSyncIndex(f.textIn.syncIndex);
        e.setSyncKeyID(f.textIn.syncKeyID);
        e.setChannelMask(f.textIn.channelMask);
        e.setLinkedChannelMask(f.textIn.linkedChannelMask);
        e.setTime(f.textIn.time);
        e.setFlag0(f.textIn.flags & 1u ? 1 : 0);
        e.setFlag1(f.textIn.flags & 2u ? 1 : 0);
        e.setDataLength(static_cast<uint32_t>(std::strlen(f.textIn.text) + 1));
        e.setPayload(reinterpret_cast<const uint8_t*>(f.textIn.text));
        return e;
    }
    const MediaFrame& h = f.header;
    e.setMediaType(h.mediaType);
    e.setSyncIndex(h.syncIndex);
    e.setSyncKeyID(h.syncKeyID);
    e.setChannelMask(h.channelMask);
    e.setLinkedChannelMask(h.linkedChannelMask);
    e.setTime(h.time);
    e.setFlag0(h.flag0);
    e.setFlag1(h.flag1);
    e.setParam32(h.param32);
    e.setParam64(h.param64);
    e.setDataLength(h.dataLength);
    e.setExtraLength(h.extraLength);
    e.setPayload(f.payload.data());
    return e;
}

// The channel number of a single-channel mask.
inline unsigned channelOf(BitMask32 mask) {
    return static_cast<unsigned>(__builtin_ctz(mask.value()));
}

// Whether an archived audio or video frame, header and payload read back, is the
// recording's frame with exactly its bytes.
inline bool isFrameOf(const SyntheticRecording& recording, const MediaElement& header, const uint8_t* data,
                      size_t length) {
    return recording.payload().verify(header.mediaType(), channelOf(header.channelMask()), header.param64(),
                                      header.mediaType() == 0 && header.syncIndex() == 0, data, length);
}
