#pragma once

#include "storage/transaction/Transaction.h"

class Page;

// A track's end is cut back: `page` becomes its last page again and the pages after it
// (`freed`) go back to the free list.
class RollbackTransaction : public Transaction {
public:
    RollbackTransaction(IJournaledStorage& storage, const FreePageList& freed, Page& page);
};
