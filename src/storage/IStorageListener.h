#pragma once

#include <cstdint>

class Page;
class PageType;
class Storage;

// Told about a storage's space, format and section changes and its page writes (the
// storage group listens to its members). Called on the thread that caused the change,
// without the storage's listener mutex.
class IStorageListener {
public:
    virtual ~IStorageListener() = default;
    virtual void spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) = 0;
    virtual void changeBegun(Storage& storage) = 0;
    virtual void changeFinished(Storage& storage) = 0;
    virtual void recordingSectionChanged(Storage& storage, uint32_t sectionID) = 0;
    virtual void beforePageWrite(Storage& storage, Page& page, bool headerOnly) {
        (void)storage, (void)page, (void)headerOnly;
    }
    virtual void afterPageWrite(Storage& storage, Page& page, bool headerOnly) {
        (void)storage, (void)page, (void)headerOnly;
    }
    virtual void trackRemoved(Storage& storage, const PageType& type) { (void)storage, (void)type; }
};
