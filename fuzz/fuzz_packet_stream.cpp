// The packet stream assembler, fed a byte stream in pieces of every size.
//
// Input: a settings byte, four bytes that seed the piece sizes, then the stream. Bit 0 of
// the settings byte lowers the largest accepted payload from 1 MiB to 64 bytes, so that
// refusals are met often. When bit 1 is set, bits 2-7 append that many 17 KiB blocks of
// filler to the stream, so that a short input can announce and complete payloads beyond a
// packet's initial storage and up to past the 1 MiB maximum.
//
// The stream is assembled three times: fed whole, fed in seeded pieces, and read straight
// into the receive window in seeded reads. All three must yield the same packets as a
// plain model of the framing (8-byte header, big-endian u32 payload length at offset 4,
// refusal of a payload above the maximum, which stops the stream), and end in the same
// state. Every packet handed out is positioned at its payload with exactly its payload
// left to read.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "network/protocol/PacketAssembler.h"
#include "network/protocol/PacketFormat.h"
#include "support/FuzzCheck.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t SmallMaximum = 64;
constexpr size_t FillerBlock = 17 * 1024;

struct Outcome {
    std::vector<uint16_t> types;
    std::vector<Bytes> payloads;
    bool refused = false;
    PacketAssembler::State state = PacketAssembler::State::Header;

    bool operator==(const Outcome&) const = default;
};

// 63 blocks of filler, made once: filling per input would cost more than the assembly.
const Bytes& filler() {
    static const Bytes* bytes = [] {
        auto* b = new Bytes(63 * FillerBlock);
        for (size_t i = 0; i < b->size(); ++i) (*b)[i] = static_cast<uint8_t>(i * 131 + 7);
        return b;
    }();
    return *bytes;
}

// Piece sizes from a small generator, mostly short, now and then long.
class PieceSizes {
public:
    explicit PieceSizes(uint32_t seed) : _state(seed | 1) {}
    size_t next() {
        _state ^= _state << 13;
        _state ^= _state >> 17;
        _state ^= _state << 5;
        return (_state & 7) == 0 ? 1 + _state % 20000 : 1 + _state % 16;
    }

private:
    uint32_t _state;
};

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

Outcome model(const Bytes& stream, uint32_t maximum) {
    Outcome outcome;
    size_t at = 0;
    while (true) {
        if (stream.size() - at < PacketFormat::HeaderSize) {
            outcome.state = PacketAssembler::State::Header;
            return outcome;
        }
        const uint8_t* header = stream.data() + at;
        uint32_t length = bigEndian32(header + PacketFormat::PayloadLengthOffset);
        if (length > maximum) {
            outcome.refused = true;
            outcome.state = PacketAssembler::State::PayloadTooLarge;
            return outcome;
        }
        if (stream.size() - at - PacketFormat::HeaderSize < length) {
            outcome.state = PacketAssembler::State::Payload;
            return outcome;
        }
        outcome.types.push_back(static_cast<uint16_t>((header[2] << 8) | header[3]));
        const uint8_t* payload = header + PacketFormat::HeaderSize;
        outcome.payloads.emplace_back(payload, payload + length);
        at += PacketFormat::HeaderSize + length;
    }
}

void take(Outcome& outcome, Packet& packet, uint32_t maximum) {
    QF_FUZZ_CHECK(packet.position() == PacketFormat::HeaderSize);
    QF_FUZZ_CHECK(static_cast<uint32_t>(packet.remaining()) == packet.payloadLength());
    QF_FUZZ_CHECK(packet.payloadLength() <= maximum);
    outcome.types.push_back(packet.type());
    outcome.payloads.emplace_back(packet.current(), packet.current() + packet.remaining());
}

void finish(Outcome& outcome, PacketAssembler& assembler) {
    outcome.refused = assembler.failed();
    outcome.state = assembler.state();
    if (assembler.failed()) {
        QF_FUZZ_CHECK(assembler.announcedPayloadLength() > assembler.maxPayloadLength());
        QF_FUZZ_CHECK(assembler.wanted() == 0);
        uint8_t more = 0;
        QF_FUZZ_CHECK(assembler.feed(&more, 1) == 0);
    }
}

Outcome fedWhole(const Bytes& stream, uint32_t maximum) {
    Outcome outcome;
    PacketAssembler assembler(maximum);
    bool ok = assembler.feedAll(stream.data(), stream.size(), [&](Packet& p) { take(outcome, p, maximum); });
    QF_FUZZ_CHECK(ok == !assembler.failed());
    finish(outcome, assembler);
    return outcome;
}

Outcome fedInPieces(const Bytes& stream, uint32_t maximum, uint32_t seed) {
    Outcome outcome;
    PacketAssembler assembler(maximum);
    PieceSizes sizes(seed);
    size_t at = 0;
    while (at < stream.size() && !assembler.failed()) {
        size_t piece = std::min(sizes.next(), stream.size() - at);
        size_t fed = 0;
        while (fed < piece) {
            size_t used = assembler.feed(stream.data() + at + fed, piece - fed);
            fed += used;
            if (assembler.hasPacket()) {
                take(outcome, assembler.packet(), maximum);
                assembler.next();
            } else if (assembler.failed()) {
                break;
            } else {
                QF_FUZZ_CHECK(fed == piece);  // neither ready nor refused: it took all it was offered
            }
        }
        at += fed;
    }
    finish(outcome, assembler);
    return outcome;
}

Outcome readIntoWindow(const Bytes& stream, uint32_t maximum, uint32_t seed) {
    Outcome outcome;
    PacketAssembler assembler(maximum);
    PieceSizes sizes(seed ^ 0x9E3779B9u);
    size_t at = 0;
    while (!assembler.failed()) {
        if (assembler.hasPacket()) {
            take(outcome, assembler.packet(), maximum);
            assembler.next();
            continue;
        }
        if (at == stream.size()) break;
        int wanted = assembler.wanted();
        QF_FUZZ_CHECK(wanted > 0);
        size_t n = std::min({sizes.next(), static_cast<size_t>(wanted), stream.size() - at});
        std::memcpy(assembler.receiveWindow(), stream.data() + at, n);
        assembler.received(static_cast<int>(n));
        at += n;
    }
    finish(outcome, assembler);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    uint8_t settings = data[0];
    uint32_t seed = bigEndian32(data + 1);
    uint32_t maximum = (settings & 1) != 0 ? SmallMaximum : PacketFormat::MaxClientPayloadLength;
    Bytes stream(data + 5, data + size);
    if ((settings & 2) != 0) {
        const Bytes& pattern = filler();
        stream.insert(stream.end(), pattern.begin(), pattern.begin() + (settings >> 2) * FillerBlock);
    }

    Outcome expected = model(stream, maximum);
    QF_FUZZ_CHECK(fedWhole(stream, maximum) == expected);
    QF_FUZZ_CHECK(fedInPieces(stream, maximum, seed) == expected);
    QF_FUZZ_CHECK(readIntoWindow(stream, maximum, seed) == expected);
    return 0;
}
