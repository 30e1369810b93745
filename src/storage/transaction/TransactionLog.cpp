#include "storage/transaction/TransactionLog.h"

#include "base/Buffer.h"
#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"
#include "storage/transaction/AppendFreePageTransactionLog.h"
#include "storage/transaction/ChangePageLinkTransactionLog.h"
#include "storage/transaction/DeleteTrackTransactionLog.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/JournalFormat.h"
#include "storage/transaction/UpdateTrackFirstTransactionLog.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"

void TransactionLog::readFrom(Buffer& buffer, int position) {
    readPayload(buffer, position + JournalFormat::TypeSize);
}

void TransactionLog::readFrom(Buffer& buffer) {
    int position = buffer.position();
    readPayload(buffer, position + JournalFormat::TypeSize);
    buffer.setPosition(position + serializedSize());
}

void TransactionLog::writeTo(Buffer& buffer, int position) const {
    int saved = buffer.position();
    buffer.setPosition(position);
    writeTo(buffer);
    buffer.setPosition(saved);
}

void TransactionLog::writeTo(Buffer& buffer) const {
    buffer.putShort(_type);
    writePayload(buffer);
}

std::unique_ptr<TransactionLog> TransactionLog::read(IJournaledStorage& storage, Buffer& buffer, int position,
                                                     int limit) {
    if (position < 0 || position + JournalFormat::TypeSize > limit) {
        return nullptr;
    }
    std::unique_ptr<TransactionLog> record;
    switch (buffer.getShortAt(position)) {
        case JournalFormat::FlushPage:
            record = std::make_unique<FlushPageTransactionLog>(storage);
            break;
        case JournalFormat::ExtractFreePage:
            record = std::make_unique<ExtractFreePageTransactionLog>(storage, 0);
            break;
        case JournalFormat::AppendFreePage:
            record = std::make_unique<AppendFreePageTransactionLog>(storage, 0);
            break;
        case JournalFormat::UpdateTrackLast:
            record = std::make_unique<UpdateTrackLastTransactionLog>(storage);
            break;
        case JournalFormat::UpdateTrackFirst:
            record = std::make_unique<UpdateTrackFirstTransactionLog>(storage);
            break;
        case JournalFormat::DeleteTrack:
            record = std::make_unique<DeleteTrackTransactionLog>(storage);
            break;
        case JournalFormat::AppendFreePageInterval:
            record = std::make_unique<AppendFreePageIntervalTransactionLog>(storage, 0, 0);
            break;
        case JournalFormat::ChangePageLink:
            record = std::make_unique<ChangePageLinkTransactionLog>(storage);
            break;
        default:
            return nullptr;
    }
    if (position + record->serializedSize() > limit) {
        return nullptr;
    }
    record->readFrom(buffer, position);
    return record;
}
