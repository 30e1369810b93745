#pragma once

#include <cstdint>

#include "base/BitMask32.h"
#include "base/Buffer.h"
#include "base/ISerializable.h"

// An element of a track: a fixed-size header, for media elements followed by payload
// bytes, in the buffer's byte order (the storage's, for pages). The header reads and
// writes the same bytes at an absolute offset and at the cursor: the cursor forms are
// the absolute forms at the cursor, which then moves past the header. Reserved header
// bytes are written as zeros. Elements are plain values used by one thread at a time.
class IRecordable : public ISerializable {
public:
    ~IRecordable() override = default;

    // Bytes the element occupies in a page: header and payload.
    int serializedSize() const override { return headerSize() + dataSize(); }
    void readFrom(Buffer& buffer, int position) override = 0;
    void readFrom(Buffer& buffer) override {
        readFrom(buffer, buffer.position());
        buffer.skip(headerSize());
    }
    void writeTo(Buffer& buffer, int position) const override = 0;
    void writeTo(Buffer& buffer) const override { appendHeader(buffer); }
    virtual int headerSize() const = 0;
    virtual int dataSize() const { return 0; }
    virtual BitMask32 channelMask() const = 0;
    virtual uint64_t mediaID() const = 0;
    // Whether appending the element ORs its channel mask into the page's item flags.
    virtual bool countsInPageMask() const = 0;
    virtual void appendHeader(Buffer& buffer) const {
        writeTo(buffer, buffer.position());
        buffer.skip(headerSize());
    }
    // Payload bytes from..from+count-1 at the cursor; nothing for elements without one.
    virtual void writeData(Buffer& buffer, int from, int count) const {
        (void)buffer;
        (void)from;
        (void)count;
    }
};
