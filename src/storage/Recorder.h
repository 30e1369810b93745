#pragma once

#include <cstdint>
#include <deque>
#include <map>

#include "base/thread/Mutex.h"
#include "storage/IStorageListener.h"
#include "storage/PagePosition.h"

class MediaElement;
class Storage;

// Turns each received frame into storage elements: video and audio go to the media
// track and the timeline (video also feeds the recording table), text-in goes to the
// text-in track and the timeline, never the media track. Every element takes the next
// media ID of the storage's one counter, copied back into the caller's frame. With
// `requireVideoForAudio`, audio is kept only while video of a linked channel was
// written less than two seconds before. `write` returns the frame's timeline position,
// (0, 0) when the frame was ignored or the timeline refused it.
//
// Threads: attach, detach and write on the archiving thread of one schedule; storage
// exceptions propagate to the caller of write.
class Recorder : public IStorageListener {
public:
    Recorder();
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void attach(Storage* storage, int preEventCapacity, bool requireVideoForAudio);
    void detach();
    PagePosition write(MediaElement& frame);

    void spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) override;
    void changeBegun(Storage& storage) override;
    void changeFinished(Storage& storage) override;
    void recordingSectionChanged(Storage& storage, uint32_t sectionID) override;

    Storage* storage() const { return _storage; }
    size_t pendingPreEvents() const { return _preEvents.size(); }

private:
    // Reads the clock; a video frame's channel was written now.
    void noteVideoTick(const MediaElement& frame);
    bool audioPasses(const MediaElement& frame) const;

    Storage* _storage = nullptr;
    // Frames held ahead of an event; this system attaches with capacity 0.
    std::deque<MediaElement> _preEvents;
    size_t _preEventCapacity = 0;
    std::map<uint32_t, uint32_t> _lastVideoTick;
    bool _requireVideoForAudio = false;
    uint32_t _currentTick = 0;
    Mutex _mutex;
};
