#pragma once

#include <cstdint>

#include "storage/PagePosition.h"
#include "storage/TimelineLinkedElement.h"

// An entry of the text-in track: 128 bytes, no payload. The text keeps at most 63
// characters and always ends with a NUL.
class TextInElement : public TimelineLinkedElement {
public:
    static constexpr int RecordSize = 128;
    static constexpr int TextCapacity = 64;

    TextInElement() { _mediaType = TextIn; }

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    bool countsInPageMask() const override { return false; }

    const PagePosition& position() const { return _position; }
    void setPosition(const PagePosition& v) { _position = v; }
    uint32_t sectionID() const { return _sectionID; }
    void setSectionID(uint32_t v) { _sectionID = v; }
    // Bit 0: the media element's flag0 was set; bit 1: its flag1.
    uint32_t flags() const { return _flags; }
    void setFlags(uint32_t v) { _flags = v; }
    const char* text() const { return _text; }
    void setText(const char* text);

private:
    PagePosition _position;
    uint32_t _sectionID = 0;
    uint32_t _flags = 0;
    char _text[TextCapacity] = {};
};
