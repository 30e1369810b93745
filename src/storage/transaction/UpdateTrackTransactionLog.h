#pragma once

#include <cstdint>

#include "storage/pager/PageType.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/TransactionLog.h"

// The common form of the records that move one end of a track in the track list: the
// track's type, the end it had (0 and 0 when the type had no track) and the end it gets.
class UpdateTrackTransactionLog : public TransactionLog {
public:
    UpdateTrackTransactionLog(IJournaledStorage& storage, uint16_t type) : TransactionLog(storage, type) {}
    // `oldPage`/`oldChecksum` are the ones the track list holds now.
    UpdateTrackTransactionLog(IJournaledStorage& storage, uint16_t type, const PageType& trackType,
                              uint32_t oldPage, uint32_t oldChecksum, uint32_t newPage, uint32_t newChecksum);

    const PageType& trackType() const { return _trackType; }
    uint32_t oldPage() const { return _oldPage; }
    uint32_t oldChecksum() const { return _oldChecksum; }
    uint32_t newPage() const { return _newPage; }
    uint32_t newChecksum() const { return _newChecksum; }

    int payloadSize() const override { return JournalFormat::UpdateTrackPayload; }
    void readPayload(Buffer& buffer, int position) override;
    void writePayload(Buffer& buffer) const override;
    // A later move of the same end of the same track, from where `earlier` moved it.
    bool supersedes(const TransactionLog& earlier) const override;

protected:
    // "<name> <type> new:checksum, prev old:checksum"
    void format(IFormatable& out, const char* name) const;

private:
    PageType _trackType;
    uint32_t _oldPage = 0;
    uint32_t _oldChecksum = 0;
    uint32_t _newPage = 0;
    uint32_t _newChecksum = 0;
};
