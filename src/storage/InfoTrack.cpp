#include "storage/InfoTrack.h"

#include <mutex>

#include "base/TarsilException.h"
#include "storage/InfoElement.h"
#include "storage/Storage.h"
#include "storage/TarsilError.h"
#include "storage/pager/Page.h"
#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"

InfoTrack::InfoTrack() : Track(PageType::Info, InfoElement::RecordSize) {}

InfoTrack::~InfoTrack() = default;

std::unique_ptr<IRecordable> InfoTrack::newElement() const {
    return std::make_unique<InfoElement>();
}

void InfoTrack::init(Storage* storage, bool write, uint32_t lastPageNumber) {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _values.clear();
        _positions.clear();
    }
    Track::init(storage, write, lastPageNumber);
    if (lastPageNumber != 0) {
        loadAll();
    }
}

void InfoTrack::loadAll() {
    TrackListItem item;
    if (!storage()->findTrack(PageType::Info, item)) {
        return;
    }
    SuperBlock& superBlock = storage()->superBlock();
    Page page(superBlock, storage()->pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    // A chain longer than the file is a cycle in a damaged file.
    for (uint32_t steps = 0; number != 0; ++steps) {
        if (steps > superBlock.pageCount() || !superBlock.isPageNumber(number)) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        page.loadForRead(number);
        if (!page.type().equals(PageType::Info) || page.checksum() != checksum ||
            page.superChecksum() != superBlock.checksum() || page.itemSize() != InfoElement::RecordSize) {
            QF_THROW_TARSIL(TarsilError::StorageCorrupted);
        }
        uint32_t count = page.itemCount();
        uint32_t offset = page.firstItemOffset();
        std::lock_guard<Mutex> lock(_mutex);
        for (uint32_t i = 0; i < count && offset + InfoElement::RecordSize <= superBlock.pageSize(); ++i) {
            InfoElement element;
            element.readFrom(page.buffer(), static_cast<int>(offset));
            _values[element.key()] = element.value();
            _positions[element.key()] = PagePosition(number, offset);
            offset += InfoElement::RecordSize;
        }
        if (number == item.lastPage()) {
            break;
        }
        checksum = page.nextChecksum();
        number = page.next();
    }
}

bool InfoTrack::close(bool flush) {
    {
        std::lock_guard<Mutex> lock(_mutex);
        _values.clear();
        _positions.clear();
    }
    return Track::close(flush);
}

void InfoTrack::set(const std::string& key, const std::string& value) {
    InfoElement element;
    element.setKey(key.c_str());
    element.setValue(value.c_str());
    std::string storedKey = element.key();
    PagePosition position;
    {
        std::lock_guard<Mutex> lock(_mutex);
        auto found = _positions.find(storedKey);
        if (found != _positions.end()) {
            position = found->second;
        }
    }
    if (position.isSet()) {
        Page* current = currentPage();
        if (current != nullptr && current->pageNumber() == position.number) {
            std::lock_guard<Mutex> lock(current->mutex());
            element.writeTo(current->buffer(), static_cast<int>(position.offset));
        } else {
            Page page(storage()->superBlock(), storage()->pageCache());
            page.loadForWrite(position.number);
            {
                std::lock_guard<Mutex> lock(page.mutex());
                element.writeTo(page.buffer(), static_cast<int>(position.offset));
            }
            storage()->flushPage(page);
        }
    } else {
        position = write(element);
    }
    std::lock_guard<Mutex> lock(_mutex);
    _values[storedKey] = element.value();
    _positions[storedKey] = position;
}

bool InfoTrack::get(const std::string& key, std::string& value) {
    std::lock_guard<Mutex> lock(_mutex);
    auto found = _values.find(key);
    if (found == _values.end()) {
        return false;
    }
    value = found->second;
    return true;
}

void InfoTrack::getAll(std::map<std::string, std::string>& out) {
    std::lock_guard<Mutex> lock(_mutex);
    for (const auto& entry : _values) {
        out[entry.first] = entry.second;
    }
}
