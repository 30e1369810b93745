#pragma once

#include "storage/pager/PageType.h"
#include "storage/transaction/Transaction.h"

// A whole track goes: its pages (`freed`) go back to the free list and its record
// leaves the track list.
class TrackDeletionTransaction : public Transaction {
public:
    TrackDeletionTransaction(IJournaledStorage& storage, const FreePageList& freed, const PageType& type);
};
