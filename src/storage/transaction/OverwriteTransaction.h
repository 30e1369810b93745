#pragma once

#include "storage/transaction/Transaction.h"

class Page;

// A track's oldest pages (`freed`) are dropped: `page` becomes its first page and the
// dropped pages go back to the free list. With `flush`, the new first page's changed
// blocks are written as part of the change.
class OverwriteTransaction : public Transaction {
public:
    OverwriteTransaction(IJournaledStorage& storage, const FreePageList& freed, Page& page, bool flush,
                         bool headerOnly);
};
