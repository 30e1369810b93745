#include "app/archiving/Archiver.h"

#include <cstring>

#include "base/Exception.h"
#include "base/Trace.h"
#include "base/TextOf.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/TextInFrame.h"
#include "storage/EventElement.h"
#include "storage/MediaElement.h"
#include "storage/Storage.h"
#include "storage/TextInElement.h"
#include "storage/pager/PageType.h"

namespace {

// The stored event kind of each bit of a recorder's event type; 0 for bits not stored.
int eventKindOf(unsigned bit) {
    switch (bit) {
        case 1: return 2;
        case 2: return 3;
        case 4: return 1;
        case 8: return 4;
        case 16: return 5;
        case 32: return 6;
        default: return 0;
    }
}

MediaElement elementOf(const MediaFrame& frame) {
    MediaElement e;
    e.setMediaType(frame.mediaType);
    e.setSyncIndex(frame.syncIndex);
    e.setSyncKeyID(frame.syncKeyID);
    e.setChannelMask(frame.channelMask);
    e.setLinkedChannelMask(frame.linkedChannelMask);
    e.setTime(frame.time);
    e.setFlag0(frame.flag0);
    e.setFlag1(frame.flag1);
    e.setParam32(frame.param32);
    e.setParam64(frame.param64);
    e.setDataLength(frame.dataLength);
    e.setExtraLength(frame.extraLength);
    e.setPayload(frame.data);
    return e;
}

}  // namespace

void Archiver::attach(Storage* storage) {
    std::lock_guard<Mutex> lock(_writeMutex);
    _storage = storage;
    _recorder.attach(storage, 0, false);
}

void Archiver::detach() {
    std::lock_guard<Mutex> lock(_writeMutex);
    _recorder.detach();
    _storage = nullptr;
}

void Archiver::setSectionList(const std::vector<uint32_t>& sections) {
    std::lock_guard<std::mutex> lock(_eventMutex);
    _sections = std::set<uint32_t>(sections.begin(), sections.end());
}

void Archiver::setEventList(const std::vector<PlaybackEvent>& events) {
    {
        std::lock_guard<std::mutex> lock(_eventMutex);
        _events.clear();
    }
    addEvents(events);
}

void Archiver::addEvents(const std::vector<PlaybackEvent>& events) {
    std::lock_guard<std::mutex> lock(_eventMutex);
    for (const PlaybackEvent& event : events) {
        _events.emplace(EventKey{event.time.toEpochSeconds(), event.channels.value()}, event);
    }
}

size_t Archiver::pendingEvents() {
    std::lock_guard<std::mutex> lock(_eventMutex);
    return _events.size();
}

uint32_t Archiver::firstSection() {
    std::lock_guard<std::mutex> lock(_eventMutex);
    return _sections.empty() ? 0 : *_sections.begin();
}

Archiver::Result Archiver::writeMedia(const MediaFrame& frame, const MediaPosition& position, uint64_t& mediaID) {
    MediaElement element = elementOf(frame);
    return write(element, position, false, mediaID);
}

Archiver::Result Archiver::writeTextIn(const TextInFrame& frame, const MediaPosition& position, uint64_t& mediaID) {
    MediaElement element;
    element.setMediaType(TimelineLinkedElement::TextIn);
    element.setSyncIndex(frame.syncIndex);
    element.setSyncKeyID(frame.syncKeyID);
    element.setChannelMask(frame.channelMask);
    element.setLinkedChannelMask(frame.linkedChannelMask);
    element.setTime(frame.time);
    element.setFlag0((frame.flags & 1u) != 0 ? 1 : 0);
    element.setFlag1((frame.flags & 2u) != 0 ? 1 : 0);
    element.setDataLength(static_cast<uint32_t>(strnlen(frame.text, sizeof frame.text)));
    element.setPayload(reinterpret_cast<const uint8_t*>(frame.text));
    return write(element, position, true, mediaID);
}

Archiver::Result Archiver::write(MediaElement& element, const MediaPosition& position, bool textIn,
                                 uint64_t& mediaID) {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return Result::Failed;
    }
    try {
        if (!_overwrite.load()) {
            bool room = false;
            if (textIn) {
                TextInElement probe;
                room = _storage->hasEnoughSpace(PageType::TextIn, probe);
            } else {
                room = _storage->hasEnoughSpace(element);
            }
            if (!room) {
                return Result::NoSpace;
            }
        }
        PagePosition at = _recorder.write(element);
        writeMatchingEvents(element, position, at);
        mediaID = element.mediaID();
        return Result::Written;
    } catch (const Exception& e) {
        QF_TRACE("Archiver::write : %s", e.describe().c_str());
    } catch (const std::exception& e) {
        QF_TRACE("Archiver::write : %s", e.what());
    }
    return Result::Failed;
}

void Archiver::writeMatchingEvents(const MediaElement& element, const MediaPosition& framePosition,
                                   const PagePosition& timelinePosition) {
    std::vector<PlaybackEvent> matching;
    {
        std::lock_guard<std::mutex> lock(_eventMutex);
        auto range = _events.equal_range(EventKey{element.time().toEpochSeconds(), element.channelMask().value()});
        for (auto it = range.first; it != range.second;) {
            // Where the recorder names the event's frame, only that frame takes it: with the
            // clock set back, two frames of one channel can share a second.
            const PlaybackEvent& event = it->second;
            bool ours = event.position.isZero() ? element.mediaType() == TimelineLinkedElement::Video
                                                : event.position == framePosition;
            if (ours) {
                matching.push_back(event);
                it = _events.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const PlaybackEvent& event : matching) {
        for (unsigned bit = 1; bit <= 32; bit <<= 1) {
            int kind = eventKindOf(bit);
            if ((event.eventType & bit) == 0 || kind == 0) {
                continue;
            }
            EventElement e;
            e.setEventParam(event.eventParam);
            e.setEventType(static_cast<uint8_t>(kind));
            e.setChannelMask(event.channels);
            e.setTime(event.time);
            e.setTimelinePosition(timelinePosition);
            e.setMediaID(element.mediaID());
            e.setSectionID(_storage->currentSectionID());
            QF_TRACE("Archiver::writeMatchingEvents : type = %d, mediaID = %llu, %s", kind,
                     static_cast<unsigned long long>(element.mediaID()), textOf(event.time).c_str());
            _storage->writeEvent(e, false);
        }
    }
}

bool Archiver::writeLastVideo(const LastVideoRecord& record, bool first) {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return false;
    }
    try {
        if (record.isValid()) {
            setLastVideoValues(record);
            if (first) {
                // The first record goes down ahead of its frame: a crash between the two
                // must not keep a frame with no record to resume after, which a start
                // from the first frame would archive again. A record whose frame did not
                // survive is not read back (readLastVideo).
                _storage->flushInfo();
            }
        }
        // The storage writes the frames before the record, each behind a barrier: after a
        // crash a later record never names a frame that did not survive.
        _storage->flush();
        return true;
    } catch (const Exception& e) {
        QF_TRACE("Archiver::writeLastVideo : %s", e.describe().c_str());
        return false;
    }
}

void Archiver::setLastVideoValues(const LastVideoRecord& record) {
    _storage->setInfo(LastVideoRecord::PositionKey, record.positionText(), false);
    _storage->setInfo(LastVideoRecord::SectionIDKey, record.sectionIDText(), false);
    _storage->setInfo(LastVideoRecord::TimeKey, record.timeText(), false);
    _storage->setInfo(LastVideoRecord::MediaIDKey, record.mediaIDText(), false);
}

bool Archiver::readLastVideo(LastVideoRecord& out) {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return false;
    }
    std::string position;
    std::string section;
    std::string time;
    std::string mediaID;
    if (!_storage->info(LastVideoRecord::PositionKey, position) || !_storage->info(LastVideoRecord::SectionIDKey, section) ||
        !_storage->info(LastVideoRecord::TimeKey, time) || !_storage->info(LastVideoRecord::MediaIDKey, mediaID)) {
        return false;
    }
    LastVideoRecord record;
    if (!record.parsePosition(position) || !record.parseSectionID(section) || !record.parseTime(time) ||
        !record.parseMediaID(mediaID)) {
        return false;
    }
    if (record.mediaID >= _storage->highestNextItemID()) {
        // A first record stored ahead of a frame that a crash then lost.
        QF_TRACE("Archiver::readLastVideo : the record names media ID %s, which was never stored", mediaID.c_str());
        return false;
    }
    out = record;
    return true;
}

void Archiver::writeSystemInfo(const RemoteSystemInfo& info) {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return;
    }
    try {
        _storage->setInfo("VideoInNum", std::to_string(info.VideoInNum), false);
        _storage->setInfo("AudioInNum", std::to_string(info.AudioInNum), false);
        _storage->setInfo("AudioOutNum", std::to_string(info.AudioOutNum), false);
        _storage->setInfo("AlarmNum", std::to_string(info.AlarmNum), false);
        _storage->setInfo("SensorNum", std::to_string(info.SensorNum), false);
    } catch (const Exception& e) {
        QF_TRACE("Archiver::writeSystemInfo : %s", e.describe().c_str());
    }
}

bool Archiver::rollbackTo(const LastVideoRecord& record) {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return false;
    }
    try {
        _storage->rollbackTo(record.sectionID, record.mediaID);
        return true;
    } catch (const Exception& e) {
        QF_TRACE("Archiver::rollbackTo : %s", e.describe().c_str());
        return false;
    }
}

bool Archiver::close() {
    std::lock_guard<Mutex> lock(_writeMutex);
    if (_storage == nullptr) {
        return true;
    }
    _recorder.detach();
    try {
        bool closed = _storage->close(true);
        _storage = nullptr;
        return closed;
    } catch (const Exception& e) {
        QF_TRACE("Archiver::close : %s", e.describe().c_str());
        _storage = nullptr;
        return false;
    }
}
