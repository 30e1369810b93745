#pragma once

#include "storage/MediaTrack.h"

// Frames recorded ahead of an event, on "PEVT" pages, in the media track's record. This
// system writes none, but files may hold them: the track is opened, read, overwritten,
// rolled back and corrected like the media track (without an overwrite preparer).
class PreEventTrack : public MediaTrack {
public:
    PreEventTrack() : MediaTrack(PageType::PreEvent) {}
};
