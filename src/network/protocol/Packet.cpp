#include "network/protocol/Packet.h"

#include <climits>

namespace {

uint32_t readBigEndian(const uint8_t* p, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = (value << 8) | p[i];
    }
    return value;
}

}  // namespace

Packet::Packet() : ByteBuffer(PacketFormat::InitialCapacity) { setOrder(ByteOrder::BigEndian); }

void Packet::begin(uint16_t type) {
    clear();
    putShortAt(PacketFormat::MagicOffset, PacketFormat::Magic);
    putShortAt(PacketFormat::TypeOffset, type);
    putIntAt(PacketFormat::PayloadLengthOffset, 0);
    setPosition(PacketFormat::HeaderSize);
}

void Packet::finish(bool pad) {
    if (position() < PacketFormat::HeaderSize) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    if (pad) {
        while ((position() - PacketFormat::HeaderSize) % PacketFormat::PayloadAlignment != 0) {
            put(uint8_t{0});
        }
    }
    flip();
    putIntAt(PacketFormat::PayloadLengthOffset, static_cast<uint32_t>(limit() - PacketFormat::HeaderSize));
}

bool Packet::isValid() const {
    return capacity() >= PacketFormat::HeaderSize && readBigEndian(data() + PacketFormat::MagicOffset, 2) == PacketFormat::Magic;
}

uint16_t Packet::type() const {
    if (capacity() < PacketFormat::HeaderSize) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    return static_cast<uint16_t>(readBigEndian(data() + PacketFormat::TypeOffset, 2));
}

uint32_t Packet::payloadLength() const {
    if (capacity() < PacketFormat::HeaderSize) {
        throw ByteBufferException(ByteBufferException::IndexOutOfBounds);
    }
    return readBigEndian(data() + PacketFormat::PayloadLengthOffset, 4);
}

void Packet::payload() {
    int64_t end = int64_t{PacketFormat::HeaderSize} + payloadLength();
    if (end > capacity()) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    setLimit(capacity());
    setPosition(PacketFormat::HeaderSize);
    setLimit(static_cast<int>(end));
}

void Packet::prepareHeader() {
    setPosition(0);
    setLimit(PacketFormat::HeaderSize);
}

void Packet::preparePayload() {
    int64_t end = int64_t{PacketFormat::HeaderSize} + payloadLength();
    if (end > INT_MAX) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    if (end > capacity()) {
        grow(static_cast<int>(end - capacity()));
    }
    setLimit(capacity());
    setPosition(PacketFormat::HeaderSize);
    setLimit(static_cast<int>(end));
}

void Packet::grow(int bytes) {
    if (bytes < 0) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    if (bytes > INT_MAX - capacity()) {
        throw ByteBufferException(ByteBufferException::OutOfMemory);
    }
    reallocate(capacity() + bytes);
}

void Packet::makeRoomForValue(int length) {
    if (remaining() < length) {
        grow(PacketFormat::GrowthStep);
    }
}

void Packet::put(ByteBuffer& src) {
    if (&src != this && src.remaining() > remaining()) {
        grow(src.remaining() - remaining());
    }
    ByteBuffer::put(src);
}

void Packet::put(const void* bytes, int offset, int length) {
    if (offset >= 0 && length > remaining()) {
        grow(length - remaining());
    }
    ByteBuffer::put(bytes, offset, length);
}

void Packet::put(uint8_t value) {
    makeRoomForValue(1);
    ByteBuffer::put(value);
}

void Packet::putShort(uint16_t value) {
    makeRoomForValue(2);
    ByteBuffer::putShort(value);
}

void Packet::putInt(uint32_t value) {
    makeRoomForValue(4);
    ByteBuffer::putInt(value);
}

void Packet::putLong(uint64_t value) {
    makeRoomForValue(8);
    ByteBuffer::putLong(value);
}

void Packet::putDate(const Date& date) {
    putShort(static_cast<uint16_t>(date.year()));
    put(static_cast<uint8_t>(date.month()));
    put(static_cast<uint8_t>(date.day()));
}

void Packet::putTimeOfDay(const Time& time) {
    put(static_cast<uint8_t>(time.hour()));
    put(static_cast<uint8_t>(time.minute()));
    put(static_cast<uint8_t>(time.second()));
    put(uint8_t{0});
}

void Packet::putDateTime(const DateTime& dateTime) {
    putDate(dateTime.date());
    putTimeOfDay(dateTime.time());
}

void Packet::putInterval(const Interval& interval) {
    putDateTime(interval.from());
    putDateTime(interval.to());
}

Date Packet::getDate() {
    int year = getShort();
    int month = get();
    int day = get();
    return Date(year, month, day);
}

Time Packet::getTimeOfDay() {
    int hour = get();
    int minute = get();
    int second = get();
    get();  // always 0 on the wire; not an offset
    return Time(hour, minute, second, 0);
}

DateTime Packet::getDateTime() {
    Date date = getDate();
    Time time = getTimeOfDay();
    return DateTime(date, time);
}

Interval Packet::getInterval() {
    DateTime from = getDateTime();
    DateTime to = getDateTime();
    return Interval(from, to);
}
