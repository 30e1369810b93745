#pragma once

#include <cstdint>

#include "base/ISerializable.h"

// A run of free pages first..last (first <= last), 8 bytes on disk in the storage's
// byte order. A plain value.
class FreePageListItem : public ISerializable {
public:
    FreePageListItem() = default;
    FreePageListItem(uint32_t first, uint32_t last) : _first(first), _last(last) {}

    uint32_t first() const { return _first; }
    uint32_t last() const { return _last; }
    void setFirst(uint32_t first) { _first = first; }
    void setLast(uint32_t last) { _last = last; }
    uint32_t count() const { return _last - _first + 1; }
    bool contains(uint32_t page) const { return _first <= page && page <= _last; }
    bool operator==(const FreePageListItem& other) const { return _first == other._first && _last == other._last; }

    int serializedSize() const override { return 8; }
    void readFrom(Buffer& buffer, int position) override;
    void readFrom(Buffer& buffer) override;
    void writeTo(Buffer& buffer, int position) const override;
    void writeTo(Buffer& buffer) const override;

private:
    uint32_t _first = 0;
    uint32_t _last = 0;
};
