#pragma once

#include "storage/transaction/UpdateTrackTransactionLog.h"

// Makes a page the first page of its track in the track list (type 5), as dropping a
// track's oldest pages does. Undoing it puts the previous first page back.
class UpdateTrackFirstTransactionLog : public UpdateTrackTransactionLog {
public:
    explicit UpdateTrackFirstTransactionLog(IJournaledStorage& storage)
        : UpdateTrackTransactionLog(storage, JournalFormat::UpdateTrackFirst) {}
    UpdateTrackFirstTransactionLog(IJournaledStorage& storage, const PageType& type, uint32_t newPage,
                                   uint32_t newChecksum);

    bool isApplied() override;
    void apply() override;
    void rollback() override;
    void toString(IFormatable& out) const override { format(out, "UpdateTrackFirst"); }
};
