#pragma once

#include <cstdint>
#include <vector>

#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/RecordedSlice.h"

struct MediaFrame;

// What an archiving client reports to its schedule. Connects, disconnects, time tables
// and an empty section list come on the playback network thread; archived frames, the
// end of a playback, aborts after a stop report and roll backs on a media dispatcher
// thread. The client holds no lock of its own during these calls.
class ArchivingDelegate {
public:
    // Why a playback was given up.
    static constexpr int NothingRecorded = 0;    // the interval has no recording section
    static constexpr int PositionOverwritten = 1;  // the resume place is gone on the recorder
    static constexpr int NoSpace = 2;            // overwrite is off and the group is full
    static constexpr int WriteFailed = 3;

    virtual ~ArchivingDelegate() = default;

    virtual void archivingConnected() = 0;
    virtual void archivingDisconnected(int reason) = 0;
    virtual void timeTableReceived(const std::vector<RecordedSlice>& slices) = 0;
    // `beforeStart`: the recorder stopped before it sent anything for the play request.
    virtual void playbackEnded(bool beforeStart) = 0;
    virtual void playbackAborted(int cause) = 0;
    // A frame was written; `mediaID` is the one it received in the archive, `position` the
    // recorder's.
    virtual void frameArchived(const MediaFrame& frame, uint64_t mediaID, const MediaPosition& position) = 0;
    virtual void rolledBack() = 0;
};
