#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "TrackFixture.h"
#include "recorder-sim/recording/SyntheticRecording.h"
#include "storage/EventTrack.h"
#include "storage/TextInTrack.h"

// One archived or expected frame, as far as a read-back can tell: audio and video by
// stream and frame number, text-in by its time and text.
struct FrameKey {
    uint16_t mediaType = 0;
    uint32_t channelMask = 0;
    uint64_t number = 0;
    int64_t time = 0;
    std::string text;

    friend bool operator==(const FrameKey&, const FrameKey&) = default;
    std::string describe() const {
        return "{type " + std::to_string(mediaType) + " mask " + std::to_string(channelMask) + " no " +
               std::to_string(number) + " t " + std::to_string(time) + (text.empty() ? "" : " '" + text + "'") + "}";
    }
};

inline FrameKey keyOf(const SyntheticFrame& frame) {
    FrameKey key;
    key.mediaType = frame.mediaType;
    if (frame.isTextIn()) {
        key.channelMask = frame.textIn.channelMask.value();
        key.time = frame.textIn.time.toEpochSeconds();
        key.text = frame.textIn.text;
    } else {
        key.channelMask = frame.header.channelMask.value();
        key.number = frame.header.param64;
        key.time = frame.header.time.toEpochSeconds();
    }
    return key;
}

// What the recording holds from `cursor` on, in recording order.
inline std::vector<FrameKey> expectedFrames(FrameCursor cursor) {
    std::vector<FrameKey> keys;
    SyntheticFrame frame;
    while (cursor.next(frame)) {
        keys.push_back(keyOf(frame));
    }
    return keys;
}

// What an archive read back holds: its frames in timeline order (every audio and video
// payload checked against the recording byte for byte), with each frame's archive media
// ID, and its events by media ID.
// Completes a read frame's key from its stored header and checks its payload bytes
// against what the recording made for that channel and frame.
inline bool fillAndVerify(const MediaElement& header, const std::vector<uint8_t>& bytes,
                          const SyntheticRecording& recording, FrameKey& key) {
    key.channelMask = header.channelMask().value();
    key.number = header.param64();
    key.time = header.time().toEpochSeconds();
    unsigned channel = static_cast<unsigned>(__builtin_ctz(header.channelMask().value()));
    return recording.payload().verify(header.mediaType(), channel, header.param64(),
                                      header.mediaType() == 0 && header.syncIndex() == 0, bytes.data(),
                                      bytes.size());
}

struct ArchiveContents {
    std::vector<FrameKey> frames;
    std::vector<uint64_t> mediaIDs;
    size_t badPayloads = 0;
    std::multimap<uint64_t, EventElement> events;

    // The first place where the archive and `expected` differ, for failure messages.
    std::string firstDifference(const std::vector<FrameKey>& expected) const {
        size_t n = std::min(frames.size(), expected.size());
        for (size_t i = 0; i < n; ++i) {
            if (!(frames[i] == expected[i])) {
                return "at " + std::to_string(i) + ": archived " + frames[i].describe() + ", expected " +
                       expected[i].describe();
            }
        }
        return frames.size() == expected.size() ? "none"
                                                : "archived " + std::to_string(frames.size()) + " frames, expected " +
                                                      std::to_string(expected.size());
    }
};

inline ArchiveContents readArchive(Storage& storage, const SyntheticRecording& recording) {
    ArchiveContents out;
    for (const auto& [position, entry] : timelineEntries(storage)) {
        FrameKey key;
        key.mediaType = static_cast<uint16_t>(entry.mediaType());
        if (entry.mediaType() == TimelineLinkedElement::TextIn) {
            TextInElement t;
            Page page(storage.superBlock(), storage.pageCache());
            if (!storage.textInTrack()->read(page, entry.mediaPosition(), t)) {
                ++out.badPayloads;
                continue;
            }
            key.channelMask = t.channelMask().value();
            key.time = t.time().toEpochSeconds();
            key.text = t.text();
        } else {
            MediaElement header;
            std::vector<uint8_t> bytes;
            if (!readMedia(storage, entry.mediaPosition(), header, bytes)) {
                ++out.badPayloads;
                continue;
            }
            if (!fillAndVerify(header, bytes, recording, key)) {
                ++out.badPayloads;
            }
        }
        out.frames.push_back(key);
        out.mediaIDs.push_back(entry.mediaID());
    }
    std::vector<EventElement> events;
    EventQuery query;
    query.interval = Interval(DateTime(2000, 1, 1, 0, 0, 0), DateTime(2100, 1, 1, 0, 0, 0));
    for (const RecordingSection& section : storage.recordingSections()) {
        storage.events(query, section.id(), events, 1);
    }
    for (const EventElement& e : events) {
        out.events.emplace(e.mediaID(), e);
    }
    return out;
}
