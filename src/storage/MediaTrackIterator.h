#pragma once

#include "storage/MediaElement.h"
#include "storage/TrackIterator.h"

// Walks a variable-size track (media, pre-event) forward: each step is the size of the
// element at the position, read once and kept until the position moves. Stepping back
// over variable-size elements is not offered (stepBack is 0, so previous() stops).
class MediaTrackIterator : public TrackIterator {
public:
    MediaTrackIterator(Storage& storage, const PageType& type);

    int stepBack() override { return 0; }
    int stepForward() override;
    void seek(const PagePosition& position) override;
    void next() override;
    bool read(IRecordable& element) override;

private:
    int _size = 0;
};
