#include "storage/MediaTrackIterator.h"

#include "storage/pager/Page.h"

MediaTrackIterator::MediaTrackIterator(Storage& storage, const PageType& type) : TrackIterator(storage, type) {}

int MediaTrackIterator::stepForward() {
    if (_size == 0) {
        MediaElement header;
        if (!TrackIterator::read(header)) {
            return 0;
        }
        uint64_t size = uint64_t(MediaElement::HeaderSize) + uint32_t(header.dataSize());
        // A length beyond two pages is a lie of a damaged page: it stops the walk.
        _size = size <= 2ull * pageSize() ? static_cast<int>(size) : 0;
    }
    return _size;
}

void MediaTrackIterator::seek(const PagePosition& position) {
    _size = 0;
    TrackIterator::seek(position);
}

void MediaTrackIterator::next() {
    stepForward();
    TrackIterator::next();
    _size = 0;
}

bool MediaTrackIterator::read(IRecordable& element) {
    if (!TrackIterator::read(element)) {
        return false;
    }
    uint64_t size = uint64_t(uint32_t(element.headerSize())) + uint32_t(element.dataSize());
    _size = size <= 2ull * pageSize() ? static_cast<int>(size) : 0;
    return true;
}
