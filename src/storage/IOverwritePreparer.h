#pragma once

#include <cstdint>

class FreePageList;
class Storage;

// Keeps track of the media track's oldest pages ahead of need, so that an overwrite
// can name the pages to free without reading them then. Used on the storage's writing
// thread only.
class IOverwritePreparer {
public:
    virtual ~IOverwritePreparer() = default;
    virtual void start(Storage* storage, int capacity) = 0;
    virtual void stop() = 0;
    // Looks at one more page when the queue has room (called for every new media page).
    virtual void prepareOne() = 0;
    // Collects in `freed` the pages, from the first on, whose elements all lie below
    // `before`; returns the page that becomes the first one (0 when none is known).
    virtual uint32_t complete(uint64_t before, FreePageList& freed) = 0;
    virtual void scanUntil(uint64_t before, FreePageList& freed) = 0;
    virtual void takeQueued(uint64_t before, FreePageList& freed) = 0;
};
