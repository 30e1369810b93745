#pragma once

#include "storage/transaction/UpdateTrackTransactionLog.h"

// Makes a page the last page of its track in the track list (type 4). Undoing it puts
// the previous last page back, or removes the track when it did not exist before.
class UpdateTrackLastTransactionLog : public UpdateTrackTransactionLog {
public:
    explicit UpdateTrackLastTransactionLog(IJournaledStorage& storage)
        : UpdateTrackTransactionLog(storage, JournalFormat::UpdateTrackLast) {}
    // The old end is read from the track list now.
    UpdateTrackLastTransactionLog(IJournaledStorage& storage, const PageType& type, uint32_t newPage,
                                  uint32_t newChecksum);
    // The old end given: a change that moves the same end more than once.
    UpdateTrackLastTransactionLog(IJournaledStorage& storage, const PageType& type, uint32_t oldPage,
                                  uint32_t oldChecksum, uint32_t newPage, uint32_t newChecksum)
        : UpdateTrackTransactionLog(storage, JournalFormat::UpdateTrackLast, type, oldPage, oldChecksum, newPage,
                                    newChecksum) {}

    bool isApplied() override;
    void apply() override;
    void applyInMemory() override;
    void writeBack() override;
    void rollback() override;
    void toString(IFormatable& out) const override { format(out, "UpdateTrackLast"); }
};
