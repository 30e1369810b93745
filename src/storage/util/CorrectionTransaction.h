#pragma once

#include <memory>

#include "storage/transaction/Transaction.h"

class FreePageList;
class Page;
class PageType;

// One repair step of the correction as a single journaled change: the records are added
// by the step as it finds what to repair, so a power cut while correcting leaves the step
// done or not done, and the next open corrects again from there.
class CorrectionTransaction : public Transaction {
public:
    explicit CorrectionTransaction(IJournaledStorage& storage) : Transaction(storage) {}

    // `page` becomes the first (last) page of its track in the track list.
    void setTrackFirst(Page& page);
    void setTrackLast(Page& page);
    // The pages go back to the free list.
    void free(const FreePageList& freed);
    // The page's header as it is in memory is written.
    void saveHeader(Page& page);
    // A page still listed as free leaves the free list.
    void extract(Page& page);
    void deleteTrack(const PageType& type);
};
