#pragma once

#include "storage/pager/PageType.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

// Removes a track from the track list (type 6); applied when the type has no track.
// Its pages are given back by the records before it; the removal itself is not undone.
class DeleteTrackTransactionLog : public TransactionLog {
public:
    explicit DeleteTrackTransactionLog(IJournaledStorage& storage)
        : TransactionLog(storage, JournalFormat::DeleteTrack) {}
    DeleteTrackTransactionLog(IJournaledStorage& storage, const PageType& type)
        : TransactionLog(storage, JournalFormat::DeleteTrack), _trackType(type) {}

    const PageType& trackType() const { return _trackType; }

    int payloadSize() const override { return JournalFormat::DeleteTrackPayload; }
    void readPayload(Buffer& buffer, int position) override { _trackType.readFrom(buffer, position); }
    void writePayload(Buffer& buffer) const override { _trackType.writeTo(buffer); }
    bool isApplied() override;
    void apply() override;
    void rollback() override {}
    void toString(IFormatable& out) const override;

private:
    PageType _trackType;
};
