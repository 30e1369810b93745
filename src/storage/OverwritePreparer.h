#pragma once

#include <cstdint>
#include <deque>
#include <memory>

#include "storage/IOverwritePreparer.h"

class Page;

// The media track's overwrite preparer: a ring of records (first and last item ID,
// page tag, page number) of the oldest media pages in track order, from the track's
// first page on, and a scan page, the newest page looked at. Each new media page adds
// at most one record while the queue has room; an overwrite pops the records below its
// limit and scans on from the scan page only as far as it must. Every step along the
// chain checks the links both ways, so a damaged chain ends the scan instead of
// freeing a page of another track. Writing thread only.
class OverwritePreparer : public IOverwritePreparer {
public:
    struct Record {
        uint64_t firstItemID = 0;
        uint64_t lastItemID = 0;
        uint32_t pageTag = 0;
        uint32_t pageNumber = 0;
    };

    OverwritePreparer();
    ~OverwritePreparer() override;

    void start(Storage* storage, int capacity) override;
    void stop() override;
    void prepareOne() override;
    uint32_t complete(uint64_t before, FreePageList& freed) override;
    void scanUntil(uint64_t before, FreePageList& freed) override;
    void takeQueued(uint64_t before, FreePageList& freed) override;

    size_t queued() const { return _queue.size(); }

private:
    bool advance(Record& record);
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage* _storage = nullptr;
    std::unique_ptr<Page> _scan;
    std::deque<Record> _queue;
    size_t _capacity = 0;
};
