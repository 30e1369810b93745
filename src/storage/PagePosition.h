#pragma once

#include <cstdint>

class Buffer;

// Where one element lies in a storage file: a page number (0: no position) and the byte
// offset of the element's first byte in that page. Stored inside other records as two
// uint32, the page number first. A plain value.
struct PagePosition {
    uint32_t number = 0;
    uint32_t offset = 0;

    PagePosition() = default;
    PagePosition(uint32_t pageNumber, uint32_t pageOffset) : number(pageNumber), offset(pageOffset) {}

    bool isSet() const { return number != 0; }
    bool operator==(const PagePosition& other) const {
        return number == other.number && offset == other.offset;
    }
    bool operator!=(const PagePosition& other) const { return !(*this == other); }

    static constexpr int SerializedSize = 8;
    void readFrom(Buffer& buffer, int position);
    void writeTo(Buffer& buffer, int position) const;
};
