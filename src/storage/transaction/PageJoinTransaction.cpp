#include "storage/transaction/PageJoinTransaction.h"

#include <algorithm>

#include "storage/pager/SuperBlock.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"

PageJoinTransaction::PageJoinTransaction(IJournaledStorage& storage, const std::vector<Join>& joins)
    : Transaction(storage, true) {
    std::vector<PageType> types;
    for (const Join& join : joins) {
        add(std::make_unique<ExtractFreePageTransactionLog>(storage, join.page));
        if (std::none_of(types.begin(), types.end(), [&](const PageType& t) { return t.equals(join.type); })) {
            types.push_back(join.type);
        }
    }
    for (const PageType& type : types) {
        moveTrackEnd(joins, type);
    }
}

void PageJoinTransaction::moveTrackEnd(const std::vector<Join>& joins, const PageType& type) {
    const Join* first = nullptr;
    const Join* last = nullptr;
    for (const Join& join : joins) {
        if (join.type.equals(type)) {
            first = first == nullptr ? &join : first;
            last = &join;
        }
    }
    TrackListItem item;
    uint32_t oldPage = 0;
    uint32_t oldChecksum = 0;
    if (storage().superBlock().findTrack(type, item)) {
        oldPage = item.lastPage();
        oldChecksum = item.lastPageChecksum();
    } else {
        // A new track starts at its first page, then moves its end on to the last.
        add(std::make_unique<UpdateTrackLastTransactionLog>(storage(), type, 0, 0, first->page, first->checksum));
        oldPage = first->page;
        oldChecksum = first->checksum;
    }
    if (last->page != oldPage || last->checksum != oldChecksum) {
        add(std::make_unique<UpdateTrackLastTransactionLog>(storage(), type, oldPage, oldChecksum, last->page,
                                                            last->checksum));
    }
}
