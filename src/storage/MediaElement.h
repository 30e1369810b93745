#pragma once

#include <cstdint>

#include "storage/TimelineLinkedElement.h"

// A video, audio or text-in frame of the media track: a 64-byte header, the same bytes
// as the frame header received from the network, followed in the page by dataLength +
// extraLength payload bytes. The payload is not owned: the element points at the
// frame's bytes, which must outlive the writes; copying an element copies the pointer.
class MediaElement : public TimelineLinkedElement {
public:
    static constexpr int HeaderSize = 64;

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return HeaderSize; }
    int dataSize() const override { return static_cast<int>(_dataLength + _extraLength); }
    bool countsInPageMask() const override { return _mediaType == Video; }
    void writeData(Buffer& buffer, int from, int count) const override;

    uint32_t dataLength() const { return _dataLength; }
    void setDataLength(uint32_t v) { _dataLength = v; }
    uint32_t extraLength() const { return _extraLength; }
    void setExtraLength(uint32_t v) { _extraLength = v; }
    uint16_t flag0() const { return _flag0; }
    void setFlag0(uint16_t v) { _flag0 = v; }
    uint16_t flag1() const { return _flag1; }
    void setFlag1(uint16_t v) { _flag1 = v; }
    uint32_t param32() const { return _param32; }
    void setParam32(uint32_t v) { _param32 = v; }
    uint64_t param64() const { return _param64; }
    void setParam64(uint64_t v) { _param64 = v; }
    const uint8_t* payload() const { return _payload; }
    void setPayload(const uint8_t* payload) { _payload = payload; }

private:
    uint32_t _dataLength = 0;
    uint32_t _extraLength = 0;
    uint16_t _flag0 = 0;
    uint16_t _flag1 = 0;
    uint32_t _param32 = 0;
    uint64_t _param64 = 0;
    const uint8_t* _payload = nullptr;
};
