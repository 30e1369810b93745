#pragma once

#include "storage/StorageUtility.h"
#include "storage/pager/PageType.h"

class Page;
class Storage;

// Makes the first page the track list names for each data track a first page of that
// track: of its type, with its checksum and no previous page. A page that was already
// unlinked when the power went gives way to its successor (the old page goes back to the
// free list once); a damaged first page gives way to the earliest page that can still be
// reached backwards from the last one; a track with neither is deleted.
class FirstPageCorrector {
public:
    explicit FirstPageCorrector(Storage& storage);
    void run();

private:
    void correct(const PageType& type);
    bool moveToSuccessor(const PageType& type, uint32_t number);
    bool moveToEarliestReachable(const PageType& type, uint32_t oldFirst);
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage& _storage;
    StorageUtility _utility;
};
