#pragma once

#include <cstdint>
#include <vector>

#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackLayout.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/TextInFrame.h"

// One frame of the synthetic recording as the simulated recorder streams it: an audio or
// video frame (header and payload, sent as a 517 message) or a text-in frame (sent as a
// 526 message), with the recorder-side position it is read from. The frame owns its
// payload; a copy is independent. Filled by FrameCursor; one owner at a time.
struct SyntheticFrame {
    uint16_t mediaType = PlaybackLayout::MediaTypeVideo;
    unsigned channel = 0;      // video or audio channel number (text-in: its video channel)
    uint64_t frameNumber = 0;  // the frame's number in its stream (text-in: the entry's number)
    uint32_t sectionID = 0;
    uint64_t ordinal = 0;      // place in recording order across the whole recording
    MediaPosition position;
    // Set for a video frame that needs the earlier frames of its key group.
    bool dependent = false;
    // Audio and video: the header; its data pointer is left null (see frame()).
    MediaFrame header;
    std::vector<uint8_t> payload;
    // Text-in only.
    TextInFrame textIn;

    bool isTextIn() const { return mediaType == PlaybackLayout::MediaTypeTextIn; }
    // The header with its data pointing at this object's payload: valid while the
    // payload is neither changed nor moved.
    MediaFrame frame() const {
        MediaFrame f = header;
        f.data = payload.empty() ? nullptr : payload.data();
        return f;
    }
    // The message that streams this frame: a 517 for audio and video, a 526 for text-in.
    // The 517's data points at this object's payload, like frame().
    MediaFrameMessage mediaFrameMessage() const { return {dependent, position, frame()}; }
    TextInFrameMessage textInFrameMessage() const { return {position, textIn}; }
};
