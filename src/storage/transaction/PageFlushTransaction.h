#pragma once

#include "storage/transaction/Transaction.h"

class Page;

// A page joins its track: it leaves the free list, becomes the track's last page in the
// track list, and is written.
class PageFlushTransaction : public Transaction {
public:
    // `page` has just joined its track and is still listed as free.
    PageFlushTransaction(IJournaledStorage& storage, Page& page);
};
