#pragma once

#include <cstdint>

#include "storage/IRecordable.h"

// An entry of the bad-page track: the number of a page that must not be used again.
class BadElement : public IRecordable {
public:
    static constexpr int RecordSize = 4;

    void readFrom(Buffer& buffer, int position) override { _page = buffer.getIntAt(position); }
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override { buffer.putIntAt(position, _page); }
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    BitMask32 channelMask() const override { return BitMask32(); }
    uint64_t mediaID() const override { return 0; }
    bool countsInPageMask() const override { return false; }

    uint32_t page() const { return _page; }
    void setPage(uint32_t v) { _page = v; }

private:
    uint32_t _page = 0;
};
