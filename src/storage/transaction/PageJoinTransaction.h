#pragma once

#include <cstdint>
#include <vector>

#include "storage/pager/PageType.h"
#include "storage/transaction/Transaction.h"

// Pages that have been written whole and now join their tracks together: each leaves the
// free list, and each track's last page in the track list moves to the last of them (a
// track that had none first gets its first page). The pages are on disk before the
// journal's barrier, so the journal needs no record of their headers; the effects become
// durable at the file's next barrier (ITransactionHandler::commitDeferred).
class PageJoinTransaction : public Transaction {
public:
    // One page that has been written and waits to join its track.
    struct Join {
        PageType type;
        uint32_t page = 0;
        uint32_t checksum = 0;
    };

    // `joins` in the order the pages were written; each track's pages follow each other
    // through their headers' links.
    PageJoinTransaction(IJournaledStorage& storage, const std::vector<Join>& joins);

private:
    void moveTrackEnd(const std::vector<Join>& joins, const PageType& type);
};
