#include "storage/transaction/UpdateTrackTransactionLog.h"

#include "base/Buffer.h"
#include "base/IFormatable.h"
#include "base/TextOf.h"

UpdateTrackTransactionLog::UpdateTrackTransactionLog(IJournaledStorage& storage, uint16_t type,
                                                     const PageType& trackType, uint32_t oldPage,
                                                     uint32_t oldChecksum, uint32_t newPage,
                                                     uint32_t newChecksum)
    : TransactionLog(storage, type),
      _trackType(trackType),
      _oldPage(oldPage),
      _oldChecksum(oldChecksum),
      _newPage(newPage),
      _newChecksum(newChecksum) {}

void UpdateTrackTransactionLog::readPayload(Buffer& buffer, int position) {
    _trackType.readFrom(buffer, position);
    _oldPage = buffer.getIntAt(position + 4);
    _oldChecksum = buffer.getIntAt(position + 8);
    _newPage = buffer.getIntAt(position + 12);
    _newChecksum = buffer.getIntAt(position + 16);
}

void UpdateTrackTransactionLog::writePayload(Buffer& buffer) const {
    _trackType.writeTo(buffer);
    buffer.putInt(_oldPage);
    buffer.putInt(_oldChecksum);
    buffer.putInt(_newPage);
    buffer.putInt(_newChecksum);
}

void UpdateTrackTransactionLog::format(IFormatable& out, const char* name) const {
    out.format("%s %s %u:%u, prev %u:%u", name, textOf(_trackType).c_str(), _newPage, _newChecksum, _oldPage,
               _oldChecksum);
}

bool UpdateTrackTransactionLog::supersedes(const TransactionLog& earlier) const {
    if (earlier.type() != type()) {
        return false;
    }
    const auto& other = static_cast<const UpdateTrackTransactionLog&>(earlier);
    return other._trackType.equals(_trackType) && other._newPage == _oldPage && other._newChecksum == _oldChecksum;
}
