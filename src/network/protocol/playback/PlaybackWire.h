#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/BitMask32.h"
#include "base/ByteBufferException.h"
#include "base/Date.h"
#include "base/DateTime.h"
#include "base/Interval.h"
#include "network/protocol/Packet.h"
#include "network/protocol/playback/MediaPosition.h"
#include "network/protocol/playback/PlaybackLayout.h"

// The two directions of the playback payload encodings. Every message describes its layout
// once, as a sequence of calls on an "io" object (see PlaybackMessages.h); the writer puts
// the fields into a packet being built and the reader takes them out of a received one, so
// the client and the simulated recorder cannot disagree on a layout.
//
// The reader never trusts the bytes: every get is bounds-checked by the packet, every count
// is checked against the bytes that are really left before anything is allocated for it,
// and every length field is checked before data is pointed at. A short or inconsistent
// payload raises ByteBufferException. Neither class is thread-safe; each lives for one
// message.
class PlaybackWireWriter {
public:
    explicit PlaybackWireWriter(Packet& packet) : _packet(packet) {}

    void u8(const uint8_t& v) { _packet.put(v); }
    void u16(const uint16_t& v) { _packet.putShort(v); }
    void u32(const uint32_t& v) { _packet.putInt(v); }
    void u64(const uint64_t& v) { _packet.putLong(v); }
    void boolean(const bool& v) { _packet.putBool(v); }
    void mask(const BitMask32& v) { _packet.putInt(v.value()); }
    void date(const Date& v) { _packet.putDate(v); }
    void dateTime(const DateTime& v) { _packet.putDateTime(v); }
    void interval(const Interval& v) {
        dateTime(v.from());
        dateTime(v.to());
    }
    void position(const MediaPosition& v) {
        u32(v.positionA);
        u32(v.positionB);
        u32(v.positionC);
    }
    // A trailing field that older peers leave out; this side always sends it.
    void optionalU32(const uint32_t& v, const bool& present = true) {
        if (present) u32(v);
    }
    void optionalMask(const BitMask32& v, const bool& present = true) {
        if (present) mask(v);
    }
    // A field the wire does not carry, which the reader sets to a fixed value.
    template <typename T, typename V>
    void impliedOnRead(const T&, const V&) {}
    void zeros(size_t count);
    // u16 length, the characters, NUL. `maxKept` only matters to the reader.
    void string(const std::string& v, size_t maxKept = 0xFFFF);
    // Exactly `wireSize` bytes: the text, then zeros.
    void text(const char* v, size_t textCapacity, size_t wireSize);
    void bytes(const uint8_t* data, uint64_t length);

    template <typename T, typename Each>
    void list(const std::vector<T>& items, size_t /*minEntrySize*/, Each each) {
        if (items.size() > UINT32_MAX) throw ByteBufferException(ByteBufferException::IllegalArgument);
        u32(static_cast<uint32_t>(items.size()));
        for (const T& item : items) each(item);
    }

private:
    Packet& _packet;
};

class PlaybackWireReader {
public:
    explicit PlaybackWireReader(Packet& packet) : _packet(packet) {}

    void u8(uint8_t& v) { v = _packet.get(); }
    void u16(uint16_t& v) { v = _packet.getShort(); }
    void u32(uint32_t& v) { v = _packet.getInt(); }
    void u64(uint64_t& v) { v = _packet.getLong(); }
    void boolean(bool& v) { v = _packet.getBool(); }
    void mask(BitMask32& v) { v = BitMask32(_packet.getInt()); }
    void date(Date& v) {
        require(PlaybackLayout::DateSize);
        v = _packet.getDate();
    }
    void dateTime(DateTime& v) {
        require(PlaybackLayout::DateTimeSize);
        v = _packet.getDateTime();
    }
    void interval(Interval& v) {
        DateTime from;
        DateTime to;
        dateTime(from);
        dateTime(to);
        v = Interval(from, to);
    }
    void position(MediaPosition& v) {
        u32(v.positionA);
        u32(v.positionB);
        u32(v.positionC);
    }
    // Read only when the payload still holds it (padding is shorter); otherwise 0 and
    // `present` false.
    void optionalU32(uint32_t& v, bool& present) {
        present = remaining() >= 4;
        v = present ? _packet.getInt() : 0;
    }
    void optionalU32(uint32_t& v) {
        bool present = false;
        optionalU32(v, present);
    }
    void optionalMask(BitMask32& v, bool& present) {
        uint32_t bits = 0;
        optionalU32(bits, present);
        v = BitMask32(bits);
    }
    template <typename T, typename V>
    void impliedOnRead(T& field, const V& value) {
        field = T(value);
    }
    void zeros(size_t count) { skip(count); }
    // Longer strings are cut to `maxKept` characters; the whole string is consumed.
    void string(std::string& v, size_t maxKept = 0xFFFF);
    // Exactly `wireSize` bytes into a buffer of `textCapacity` bytes, always terminated.
    void text(char* v, size_t textCapacity, size_t wireSize);
    // Points `data` at `length` bytes of the payload and moves past them.
    void bytes(const uint8_t*& data, uint64_t length);

    template <typename T, typename Each>
    void list(std::vector<T>& items, size_t minEntrySize, Each each) {
        uint32_t count = 0;
        u32(count);
        // A count the remaining bytes cannot hold is a lie: refuse it before allocating.
        if (uint64_t{count} * minEntrySize > static_cast<uint64_t>(remaining())) {
            throw ByteBufferException(ByteBufferException::Underflow);
        }
        items.clear();
        items.resize(count);
        for (T& item : items) each(item);
    }

    int remaining() const { return _packet.remaining(); }

private:
    void require(uint64_t length) const {
        if (length > static_cast<uint64_t>(_packet.remaining())) {
            throw ByteBufferException(ByteBufferException::Underflow);
        }
    }
    void skip(uint64_t length) {
        require(length);
        _packet.skip(static_cast<int>(length));
    }

    Packet& _packet;
};

// Builds `message` into `packet` as a complete, padded packet of the message's type.
template <typename Message>
void writePlaybackMessage(Packet& packet, const Message& message) {
    packet.begin(Message::Type);
    PlaybackWireWriter writer(packet);
    Message::layout(writer, message);
    packet.finish(true);
}

// Parses the payload of a received `packet` into `message`. Raises ByteBufferException
// (IllegalArgument) when the packet is of another type, and whatever the reader raises for
// a short or inconsistent payload. Bytes after the layout (padding) are ignored.
template <typename Message>
void readPlaybackMessage(Packet& packet, Message& message) {
    if (packet.type() != Message::Type) throw ByteBufferException(ByteBufferException::IllegalArgument);
    packet.payload();
    PlaybackWireReader reader(packet);
    Message::layout(reader, message);
}

// As readPlaybackMessage, but a malformed packet is answered with false.
template <typename Message>
bool tryReadPlaybackMessage(Packet& packet, Message& message) {
    try {
        readPlaybackMessage(packet, message);
        return true;
    } catch (const ByteBufferException&) {
        return false;
    }
}
