#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"

#include "base/Buffer.h"
#include "base/IFormatable.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/pager/SuperBlock.h"
#include "storage/transaction/IJournaledStorage.h"

void AppendFreePageIntervalTransactionLog::readPayload(Buffer& buffer, int position) {
    _first = buffer.getIntAt(position);
    _last = buffer.getIntAt(position + 4);
}

void AppendFreePageIntervalTransactionLog::writePayload(Buffer& buffer) const {
    buffer.putInt(_first);
    buffer.putInt(_last);
}

bool AppendFreePageIntervalTransactionLog::isInsideFile() const {
    SuperBlock& superBlock = storage().superBlock();
    return _first <= _last && superBlock.isPageNumber(_first) && superBlock.isPageNumber(_last);
}

bool AppendFreePageIntervalTransactionLog::isApplied() {
    if (!isInsideFile()) {
        return false;
    }
    IFreePageAllocator* allocator = storage().freePageAllocator();
    for (uint32_t page = _first;; ++page) {
        if (!allocator->isListed(page)) {
            return false;
        }
        if (page == _last) {
            return true;
        }
    }
}

void AppendFreePageIntervalTransactionLog::apply() {
    IFreePageAllocator* allocator = storage().freePageAllocator();
    allocator->appendInterval(_first, _last);
    allocator->flush();
}

void AppendFreePageIntervalTransactionLog::rollback() {
    IFreePageAllocator* allocator = storage().freePageAllocator();
    if (isInsideFile()) {
        for (uint32_t page = _first;; ++page) {
            allocator->extract(page);
            if (page == _last) {
                break;
            }
        }
    }
    allocator->flush();
}

void AppendFreePageIntervalTransactionLog::toString(IFormatable& out) const {
    out.format("AppendFreePageInterval %u~%u", _first, _last);
}
