#include "storage/Recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/Clock.h"
#include "storage/MediaElement.h"
#include "storage/Storage.h"
#include "storage/TextInElement.h"

Recorder::Recorder() = default;

Recorder::~Recorder() {
    detach();
}

void Recorder::attach(Storage* storage, int preEventCapacity, bool requireVideoForAudio) {
    detach();
    _storage = storage;
    if (storage != nullptr) {
        storage->addListener(this);
    }
    std::lock_guard<Mutex> lock(_mutex);
    _preEvents.clear();
    _preEventCapacity = preEventCapacity > 0 ? static_cast<size_t>(preEventCapacity) : 0;
    _requireVideoForAudio = requireVideoForAudio;
}

void Recorder::detach() {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _preEvents.clear();
    }
    if (_storage != nullptr) {
        _storage->removeListener(this);
        _storage = nullptr;
    }
    _lastVideoTick.clear();
}

void Recorder::noteVideoTick(const MediaElement& frame) {
    _currentTick = Clock::current().tickCount();
    if (frame.mediaType() == TimelineLinkedElement::Video) {
        _lastVideoTick[frame.channelMask().value()] = _currentTick;
    }
}

bool Recorder::audioPasses(const MediaElement& frame) const {
    if (!_requireVideoForAudio) {
        return true;
    }
    for (const auto& [mask, tick] : _lastVideoTick) {
        if ((mask & frame.linkedChannelMask().value()) != 0 && (_currentTick - tick) / 1000 < 2) {
            return true;
        }
    }
    return false;
}

PagePosition Recorder::write(MediaElement& frame) {
    if (_requireVideoForAudio) {
        // Only the audio gate needs to know when each channel's video was last written.
        noteVideoTick(frame);
    }
    if (frame.mediaType() == TimelineLinkedElement::Audio) {
        if (!audioPasses(frame)) {
            bool known = _lastVideoTick.count(frame.channelMask().value()) > 0;
            char line[64];
            std::snprintf(line, sizeof line, "IGNORE AUDIO (%s)", known ? "VIDEO/AUDIO GAP IS TOO LARGE" : "NO VIDEO");
            _storage->log(line, 2, false);
            return PagePosition();
        }
    }
    if (frame.mediaType() == TimelineLinkedElement::TextIn) {
        TextInElement textIn;
        textIn.setSyncIndex(frame.syncIndex());
        textIn.setSyncKeyID(frame.syncKeyID());
        textIn.setTime(frame.time());
        textIn.setChannelMask(frame.channelMask());
        textIn.setLinkedChannelMask(frame.linkedChannelMask());
        textIn.setPosition(PagePosition());
        textIn.setFlags((frame.flag0() != 0 ? 1u : 0u) | (frame.flag1() != 0 ? 2u : 0u));
        char text[TextInElement::TextCapacity] = {};
        size_t length = frame.payload() != nullptr ? std::min<size_t>(frame.dataSize() > 0 ? size_t(frame.dataSize()) : 0,
                                                                     TextInElement::TextCapacity - 1)
                                                   : 0;
        if (length > 0) {
            std::memcpy(text, frame.payload(), length);
        }
        textIn.setText(text);
        PagePosition position = _storage->writeTextIn(textIn);
        PagePosition result = _storage->writeTimeline(textIn, position, false);
        frame.setMediaID(textIn.mediaID());
        return result;
    }
    PagePosition position = _storage->writeMedia(frame);
    return _storage->writeTimelineAuto(frame, position);
}

void Recorder::spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) {
    (void)storage, (void)freePageCount, (void)pageCount;
}

void Recorder::changeBegun(Storage& storage) {
    (void)storage;
    std::lock_guard<Mutex> lock(_mutex);
    _preEvents.clear();
}

void Recorder::changeFinished(Storage& storage) {
    (void)storage;
}

void Recorder::recordingSectionChanged(Storage& storage, uint32_t sectionID) {
    (void)storage, (void)sectionID;
}
