#include "storage/transaction/FreePageTransactionLog.h"

#include "base/Buffer.h"
#include "storage/pager/IFreePageAllocator.h"
#include "storage/transaction/IJournaledStorage.h"

void FreePageTransactionLog::readPayload(Buffer& buffer, int position) {
    _page = buffer.getIntAt(position);
}

void FreePageTransactionLog::writePayload(Buffer& buffer) const {
    buffer.putInt(_page);
}

void FreePageTransactionLog::extractAndFlush() {
    IFreePageAllocator* allocator = storage().freePageAllocator();
    allocator->extract(_page);
    allocator->flush();
}

void FreePageTransactionLog::appendAndFlush() {
    IFreePageAllocator* allocator = storage().freePageAllocator();
    allocator->append(_page);
    allocator->flush();
}
