#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "storage/TimelineElement.h"
#include "storage/Track.h"

class TimelineLinkedElement;

// The timeline: one 64-byte entry per playable frame, in write order, pointing at the
// frame's element and at the previous entry of the same media type and channel mask.
//
// Key-group rule: a non-key video frame is accepted only when the last video frame
// written for exactly its channel mask belongs to the same key group and has the index
// before it; otherwise it is refused ("NEED KEY") and nothing is written, so every video
// frame reachable from the timeline can be decoded from the key frame before it. The
// sync state and the per-chain last positions live in memory and are rebuilt from the
// last page at open and after a rollback: a channel without video in that page resumes
// at its next key frame.
//
// Written by the storage's writing thread only; readers use their own page objects.
class Timeline : public Track {
public:
    // Where the key group of one channel mask stands: its key and the last index written.
    struct KeyState {
        uint32_t syncKeyID = 0;
        uint16_t syncIndex = 0;
    };

    Timeline();
    ~Timeline() override;

    void init(Storage* storage, bool write, uint32_t lastPageNumber) override;
    bool close(bool flush) override;
    std::unique_ptr<IRecordable> newElement() const override;

    // Fills `entry` from the frame and appends it; (0, 0) when the frame is refused.
    PagePosition write(const TimelineLinkedElement& frame, const PagePosition& elementPosition,
                       TimelineElement& entry);
    using Track::write;
    bool overwrite(uint64_t before) override;
    void rollback(uint64_t after, IRecordable& scratch) override;
    // Gives up the first page (the storage's overwrite step); deletes a one-page track.
    void removeFirstPage();
    bool dropFirstPage(uint64_t& newFirstID) override;
    // The first page's first item ID; 0 when the timeline is empty.
    uint64_t firstItemID();

    // For the storage and tests: whether video of exactly `mask` may continue its key
    // group without a key frame, and with which (key, index) it last did.
    bool syncStateOf(uint32_t mask, uint32_t& syncKeyID, uint16_t& syncIndex) const;
    PagePosition lastPositionOf(uint16_t mediaType, uint32_t mask) const;

    // The key-group state of every channel mask.
    std::map<uint32_t, KeyState> keyStates() const;
    // The recording continues here from another storage (a storage group switching):
    // entries written from now on begin a new page and link to no earlier entry of this
    // storage, whose older recording is unrelated, and key groups begun in the other
    // storage go on with `states`, so the frames after a switch are not refused for want
    // of a key frame. Takes a page (overwriting the oldest recording when none is free).
    void continueRecording(const std::map<uint32_t, KeyState>& states);

private:
    using Sync = KeyState;
    using Chain = std::pair<uint16_t, uint32_t>;  // media type, channel mask

    bool accepts(const TimelineLinkedElement& frame);
    void clearMaps();
    void rebuildFromLastPage();

    std::map<uint32_t, Sync> _sync;
    std::map<Chain, PagePosition> _lastPositions;
};
