#include "app/archiving/ArchivedFrame.h"

#include "network/protocol/playback/MediaFrame.h"
#include "network/protocol/playback/TextInFrame.h"

ArchivedFrame ArchivedFrame::of(const MediaFrame& frame, const MediaPosition& position) {
    ArchivedFrame f;
    f.time = frame.time;
    f.mediaType = frame.mediaType;
    f.channelMask = frame.channelMask.value();
    f.syncKeyID = frame.syncKeyID;
    f.syncIndex = frame.syncIndex;
    f.position = position;
    return f;
}

ArchivedFrame ArchivedFrame::of(const TextInFrame& frame, const MediaPosition& position) {
    ArchivedFrame f;
    f.time = frame.time;
    f.mediaType = frame.mediaType;
    f.channelMask = frame.channelMask.value();
    f.syncKeyID = frame.syncKeyID;
    f.syncIndex = frame.syncIndex;
    f.position = position;
    return f;
}
