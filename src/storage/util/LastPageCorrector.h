#pragma once

#include "storage/StorageUtility.h"
#include "storage/pager/PageType.h"

class Page;
class Storage;

// Makes the last page the track list names for each data track the real end of that
// track: of its type and checksum, with a header that agrees with its elements and no
// link to a page that never joined. A damaged last page gives way to the last page that
// can be reached from the track's first page along valid links; the pages the track
// list named beyond it go back to the free list.
class LastPageCorrector {
public:
    explicit LastPageCorrector(Storage& storage);
    void run();

private:
    bool isSound(const PageType& type, Page& page);
    void correct(const PageType& type);
    void findRealLast(const PageType& type);
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage& _storage;
    StorageUtility _utility;
};
