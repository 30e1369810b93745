#pragma once

#include <cstdint>

#include "base/ByteBuffer.h"
#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "base/Time.h"
#include "network/protocol/PacketFormat.h"

// One message of the playback protocol: the 8-byte header and the payload in one
// big-endian ByteBuffer. Unlike a plain ByteBuffer it grows instead of overflowing, so a
// payload of any size can be written: a put of single values that finds no room grows
// the storage by 81920 bytes, a bulk put grows it by exactly what is missing. The grown
// storage is kept for the life of the packet.
//
// Sending: begin(type), the payload puts, finish(true); then the bytes from 0 to limit()
// go out as they are. Receiving: prepareHeader(), fill the 8 header bytes,
// preparePayload(), fill up to the limit, then payload() and the gets.
// Not thread-safe; a packet has one owner at a time.
class Packet : public ByteBuffer {
public:
    Packet();

    // Starts a packet of `type`: header written, position at the payload.
    void begin(uint16_t type);
    // Pads the payload with zeros to a multiple of 4 bytes when `pad` is set, stores the
    // payload length and flips the buffer for sending (position 0, limit = end).
    void finish(bool pad);

    // Readers of a received or finished packet.
    bool isValid() const;
    uint16_t type() const;
    uint32_t payloadLength() const;
    // Positions the buffer at the payload with the limit at its end.
    void payload();

    // Receiving: accept exactly the 8 header bytes next.
    void prepareHeader();
    // Receiving: grow if needed and accept exactly the payload the header announced.
    void preparePayload();

    // Grows the storage by `bytes` (IllegalArgument when negative).
    void grow(int bytes);

    using ByteBuffer::put;
    void put(ByteBuffer& src) override;
    void put(const void* bytes, int offset, int length) override;
    void put(uint8_t value) override;
    void putShort(uint16_t value) override;
    void putInt(uint32_t value) override;
    void putLong(uint64_t value) override;

    // Payload values: Date as u16 year, u8 month, u8 day; time of day as hour, minute,
    // second and a 0 byte; DateTime as both; Interval as its two ends. Read times carry
    // offset 0.
    void putDate(const Date& date);
    void putTimeOfDay(const Time& time);
    void putDateTime(const DateTime& dateTime);
    void putInterval(const Interval& interval);
    Date getDate();
    Time getTimeOfDay();
    DateTime getDateTime();
    Interval getInterval();

private:
    // Grows by the fixed step when fewer than `length` bytes of room remain.
    void makeRoomForValue(int length);
};
