#pragma once

#include <cstddef>
#include <cstdint>

#include "network/protocol/Packet.h"
#include "network/protocol/PacketFormat.h"

// Cuts a TCP byte stream back into packets. It is pure code over bytes: the session
// hands it whatever arrived, in pieces of any size, and takes complete packets out one at
// a time. A header announcing more than the maximum payload length (unsigned, so a value
// that would be negative as an int counts as too large) stops the assembler in the
// PayloadTooLarge state; the session then closes the connection. Received packets are not
// checked for the magic. Not thread-safe; one per session, used on the session's thread.
//
//   while (bytes left) {
//       used = assembler.feed(p, n);  p += used; n -= used;
//       if (assembler.failed()) close;
//       if (assembler.hasPacket()) { dispatch(assembler.packet()); assembler.next(); }
//   }
//
// A session that reads straight from the socket can avoid the copy: read up to wanted()
// bytes into receiveWindow() and report them with received().
class PacketAssembler {
public:
    enum class State {
        Header,           // collecting the 8 header bytes
        Payload,          // collecting the payload the header announced
        PacketReady,      // packet() is complete; call next() after handling it
        PayloadTooLarge,  // the header announced more than the maximum; nothing more is taken
    };

    explicit PacketAssembler(uint32_t maxPayloadLength = PacketFormat::MaxClientPayloadLength);

    // Takes bytes up to the end of the packet being assembled; returns how many it took
    // (0 when a packet is ready or after an error).
    size_t feed(const void* bytes, size_t length);

    // Where the next received bytes go, and how many the current part still needs.
    uint8_t* receiveWindow();
    int wanted() const;
    // Records that `count` (<= wanted()) bytes were stored at receiveWindow().
    void received(int count);

    State state() const { return _state; }
    bool hasPacket() const { return _state == State::PacketReady; }
    bool failed() const { return _state == State::PayloadTooLarge; }
    // The complete packet, positioned at its payload; valid until next().
    Packet& packet() { return _packet; }
    // Drops the handled packet and waits for the next header. The packet's storage, grown
    // for a large payload, is kept.
    void next();
    // The payload length of the last header, as the wire carried it.
    uint32_t announcedPayloadLength() const { return _packet.payloadLength(); }
    uint32_t maxPayloadLength() const { return _maxPayloadLength; }

    // Feeds `length` bytes and hands every packet completed on the way to `onPacket`
    // (which receives the Packet&). Returns false, with the rest untaken, when a header
    // announces too large a payload.
    template <typename OnPacket>
    bool feedAll(const void* bytes, size_t length, OnPacket&& onPacket) {
        const auto* p = static_cast<const uint8_t*>(bytes);
        while (true) {
            if (hasPacket()) {
                onPacket(_packet);
                next();
            }
            if (failed()) {
                return false;
            }
            if (length == 0) {
                return true;
            }
            size_t used = feed(p, length);
            p += used;
            length -= used;
        }
    }

private:
    void partComplete();

    uint32_t _maxPayloadLength;
    State _state = State::Header;
    Packet _packet;
};
