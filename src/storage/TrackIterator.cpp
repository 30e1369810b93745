#include "storage/TrackIterator.h"

#include "base/TarsilException.h"
#include "storage/IRecordable.h"
#include "storage/Storage.h"
#include "storage/Track.h"
#include "storage/pager/Page.h"

TrackIterator::TrackIterator(Storage& storage, const PageType& type)
    : _storage(storage),
      _utility(storage),
      _page(std::make_unique<Page>(storage.superBlock(), storage.pageCache())),
      _type(type) {}

TrackIterator::~TrackIterator() = default;

uint32_t TrackIterator::pageSize() const {
    return _storage.superBlock().pageSize();
}

void TrackIterator::invalidate() {
    _page->reset();
    _position = PagePosition();
}

int TrackIterator::stepBack() {
    return static_cast<int>(_page->itemSize());
}

int TrackIterator::stepForward() {
    return static_cast<int>(_page->itemSize());
}

void TrackIterator::toFirst() {
    seek(_utility.firstPosition(_type));
}

void TrackIterator::toLast() {
    seek(_utility.lastPosition(_type));
}

void TrackIterator::seek(const PagePosition& position) {
    _position = position;
    if (!_storage.superBlock().isPageNumber(position.number)) {
        invalidate();
        return;
    }
    if (!_page->isLoaded() || _page->pageNumber() != position.number || _page->isCopy()) {
        _page->load(position.number, true);
    }
    if (!_page->type().equals(_type)) {
        invalidate();
    }
}

void TrackIterator::previous() {
    if (!isValid()) {
        invalidate();
        return;
    }
    try {
        if (_position.offset <= _page->firstItemOffset()) {
            for (uint32_t steps = 0;; ++steps) {
                if (steps > _storage.superBlock().pageCount() || !_utility.loadPreviousPage(*_page)) {
                    invalidate();
                    return;
                }
                if (!_page->isEmpty()) {
                    break;
                }
            }
            _position = PagePosition(_page->pageNumber(), _page->lastItemOffset());
            return;
        }
        int step = stepBack();
        if (step <= 0 || _position.offset < _page->firstItemOffset() + uint32_t(step)) {
            invalidate();
            return;
        }
        _position.offset -= static_cast<uint32_t>(step);
    } catch (const TarsilException&) {
        invalidate();  // logged by the loader: the chain no longer holds here
    }
}

void TrackIterator::next() {
    if (!isValid()) {
        invalidate();
        return;
    }
    try {
        if (_position.offset >= _page->lastItemOffset()) {
            for (uint32_t steps = 0;; ++steps) {
                if (steps > _storage.superBlock().pageCount() || !_utility.loadNextPage(*_page)) {
                    invalidate();
                    return;
                }
                if (!_page->isEmpty()) {
                    break;
                }
            }
            _position = PagePosition(_page->pageNumber(), _page->firstItemOffset());
            return;
        }
        int step = stepForward();
        uint64_t at = uint64_t(_position.offset) + uint32_t(step > 0 ? step : 0);
        if (step <= 0 || at > _page->lastItemOffset()) {
            invalidate();
            return;
        }
        _position.offset = static_cast<uint32_t>(at);
    } catch (const TarsilException&) {
        invalidate();
    }
}

bool TrackIterator::isValid() {
    if (!_storage.superBlock().isPageNumber(_position.number) || !_page->isLoaded() ||
        _page->pageNumber() != _position.number || _page->isEmpty() || _page->itemSize() == 0) {
        return false;
    }
    uint32_t last = _page->lastItemOffset();
    return _position.offset >= _page->firstItemOffset() && _position.offset >= Page::IndexData &&
           _position.offset <= last && last + Track::MinElementHeader <= pageSize();
}

bool TrackIterator::read(IRecordable& element) {
    if (!isValid() || _position.offset + uint32_t(element.headerSize()) > pageSize()) {
        return false;
    }
    element.readFrom(_page->buffer(), static_cast<int>(_position.offset));
    return true;
}
