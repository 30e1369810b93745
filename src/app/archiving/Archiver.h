#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "app/archiving/LastVideoRecord.h"
#include "base/thread/Mutex.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackEvent.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"

struct MediaFrame;
struct RemoteSystemInfo;
struct TextInFrame;
class MediaElement;
class Storage;

// Writes what the archiving client receives into its storage (a storage group, or one
// storage): frames through the Recorder, each followed by the events of the current
// interval that belong to it, the resume record into the information values, the
// recorder's system counts, and the roll back to a resume record.
//
// Threads: writes run on a media dispatcher thread; the flush and the resume-record read
// that the schedule makes directly from its actor thread take the same write mutex, so the
// storage always sees one writer at a time.
class Archiver {
public:
    enum class Result { Written, NoSpace, Failed };

    void attach(Storage* storage);
    void detach();
    Storage* storage() const { return _storage; }
    void setOverwrite(bool overwrite) { _overwrite.store(overwrite); }
    bool overwrite() const { return _overwrite.load(); }

    // The recording sections the recorder listed for the interval, then its events.
    void setSectionList(const std::vector<uint32_t>& sections);
    // Replaces the pending events with `events`.
    void setEventList(const std::vector<PlaybackEvent>& events);
    void addEvents(const std::vector<PlaybackEvent>& events);
    size_t pendingEvents();
    // The smallest listed section; 0 when none.
    uint32_t firstSection();

    Result writeMedia(const MediaFrame& frame, const MediaPosition& position, uint64_t& mediaID);
    Result writeTextIn(const TextInFrame& frame, const MediaPosition& position, uint64_t& mediaID);

    // Writes the four "LastVideo" values of a valid record, then flushes the storage so
    // the record and every frame before it survive a crash together. The `first` record of
    // a storage that holds no readable one goes to the disk ahead of its frame.
    bool writeLastVideo(const LastVideoRecord& record, bool first = false);
    // False when the storage holds no readable record, or one naming a media ID it never
    // stored.
    bool readLastVideo(LastVideoRecord& out);
    void writeSystemInfo(const RemoteSystemInfo& info);
    // Cuts the storage back to the record's frame: the next frame gets its media ID + 1.
    bool rollbackTo(const LastVideoRecord& record);
    // Closes the storage with a flush; false when that failed.
    bool close();

private:
    struct EventKey {
        int64_t time;
        uint32_t channels;
        bool operator<(const EventKey& other) const {
            return time != other.time ? time < other.time : channels < other.channels;
        }
    };

    void setLastVideoValues(const LastVideoRecord& record);
    Result write(MediaElement& element, const MediaPosition& position, bool textIn, uint64_t& mediaID);
    void writeMatchingEvents(const MediaElement& element, const MediaPosition& framePosition,
                             const PagePosition& timelinePosition);

    std::atomic<bool> _overwrite{false};
    Storage* _storage = nullptr;
    Recorder _recorder;
    // One writer of the storage at a time. Recursive: a group that switches storages in a
    // write tells its listeners, which store the resume record from inside that write.
    Mutex _writeMutex;
    std::mutex _eventMutex;  // the section set and the pending events
    std::set<uint32_t> _sections;
    std::multimap<EventKey, PlaybackEvent> _events;
};
