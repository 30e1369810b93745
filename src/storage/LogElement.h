#pragma once

#include <cstdint>

#include "base/DateTime.h"
#include "storage/IRecordable.h"

// One chunk of a storage log message: 64 bytes holding up to 47 characters. A longer
// message spans several elements with one sequence number and parts 0, 1, ...
class LogElement : public IRecordable {
public:
    static constexpr int RecordSize = 64;
    static constexpr int TextCapacity = 48;  // 47 characters and a NUL

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    BitMask32 channelMask() const override { return BitMask32(); }
    uint64_t mediaID() const override { return 0; }
    bool countsInPageMask() const override { return false; }

    uint32_t sequence() const { return _sequence; }
    void setSequence(uint32_t v) { _sequence = v; }
    const DateTime& time() const { return _time; }
    void setTime(const DateTime& v) { _time = v; }
    uint16_t level() const { return _level; }
    void setLevel(uint16_t v) { _level = v; }
    uint16_t part() const { return _part; }
    void setPart(uint16_t v) { _part = v; }
    const char* text() const { return _text; }
    // Keeps at most 47 characters.
    void setText(const char* text, int length);

private:
    uint32_t _sequence = 0;
    DateTime _time;
    uint16_t _level = 0;
    uint16_t _part = 0;
    char _text[TextCapacity] = {};
};
