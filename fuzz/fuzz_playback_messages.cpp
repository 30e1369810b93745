// Every playback message decoder, in both directions, and the in-process frame records.
//
// Input: one byte whose lowest bit gives the direction (0: a packet from a recorder,
// 1: a request reaching the simulated recorder), then a packet as it travels: 8-byte
// header and payload. The header's type is used as it stands; its length field is
// replaced by the number of bytes that really follow, so mutations of the payload are
// not wasted on a length that no longer matches.
//
// Checked for a packet from a recorder: a playback response either parses or raises
// ByteBufferException, and the client's analyzer agrees (it hands the parsed response to
// exactly one notification, or raises too); other types reach the fin-notice or the
// unknown-type handling, except the recorder's own unknown-type notice, which is dropped.
// A media frame's data lies inside its packet's payload. Every parsed message encodes to
// a padded packet that parses again and encodes to the same bytes, so the reader and the
// writer of each layout agree. Media and text-in frames survive the record forms they
// travel in through the media queue unchanged.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <variant>
#include <vector>

#include "base/Buffer.h"
#include "base/ByteBufferException.h"
#include "network/playback/TextInRecord.h"
#include "network/protocol/Packet.h"
#include "network/protocol/PacketFormat.h"
#include "network/protocol/playback/PlaybackClientPacketAnalyzer.h"
#include "network/protocol/playback/PlaybackMessageVariants.h"
#include "support/CheckingPlaybackFacade.h"
#include "support/FuzzCheck.h"

namespace {

using Event = CheckingPlaybackFacade::Event;

CheckingPlaybackFacade& facade() {
    static CheckingPlaybackFacade* instance = new CheckingPlaybackFacade();
    return *instance;
}

std::vector<uint8_t> wireBytes(Packet& packet) {
    return std::vector<uint8_t>(packet.data(),
                                packet.data() + PacketFormat::HeaderSize + packet.payloadLength());
}

// Encodes, parses and encodes again: both encodings must be the same bytes.
template <typename Message>
void checkRoundTrip(const Message& message) {
    Packet first;
    writePlaybackMessage(first, message);
    QF_FUZZ_CHECK(first.payloadLength() % PacketFormat::PayloadAlignment == 0);
    std::vector<uint8_t> firstBytes = wireBytes(first);
    Message again;
    readPlaybackMessage(first, again);
    Packet second;
    writePlaybackMessage(second, again);
    QF_FUZZ_CHECK(wireBytes(second) == firstBytes);
}

void checkMediaFrame(const MediaFrameMessage& message, Packet& packet) {
    const MediaFrame& frame = message.frame;
    const uint8_t* payloadBegin = packet.data() + PacketFormat::HeaderSize;
    const uint8_t* payloadEnd = payloadBegin + packet.payloadLength();
    if (frame.payloadSize() > 0) {
        QF_FUZZ_CHECK(frame.data >= payloadBegin);
        QF_FUZZ_CHECK(frame.payloadSize() <= static_cast<uint64_t>(payloadEnd - frame.data));
    }
    // The header's storage form, in which frames are queued for the listener.
    uint8_t record[PlaybackLayout::FrameHeaderSize];
    Buffer out(record, sizeof record);
    frame.writeTo(out);
    QF_FUZZ_CHECK(out.position() == static_cast<int>(sizeof record));
    Buffer in(record, sizeof record);
    MediaFrame back;
    back.readFrom(in);
    QF_FUZZ_CHECK(in.position() == static_cast<int>(sizeof record));
    QF_FUZZ_CHECK(back.mediaType == frame.mediaType && back.syncIndex == frame.syncIndex &&
                  back.syncKeyID == frame.syncKeyID && back.channelMask == frame.channelMask &&
                  back.dataLength == frame.dataLength && back.mediaID == frame.mediaID &&
                  back.time.date().packed() == frame.time.date().packed() &&
                  back.time.time().packed() == frame.time.time().packed() && back.flag1 == frame.flag1 &&
                  back.flag0 == frame.flag0 && back.param32 == frame.param32 &&
                  back.param64 == frame.param64 && back.linkedChannelMask == frame.linkedChannelMask &&
                  back.extraLength == frame.extraLength);
}

void checkTextInFrame(const TextInFrame& frame) {
    uint8_t record[TextInRecord::Size];
    Buffer out(record, sizeof record);
    TextInRecord::write(out, frame);
    QF_FUZZ_CHECK(out.position() == TextInRecord::Size);
    Buffer in(record, sizeof record);
    TextInFrame back;
    TextInRecord::read(in, back);
    QF_FUZZ_CHECK(in.position() == TextInRecord::Size);
    QF_FUZZ_CHECK(back == frame);
}

template <typename Variant>
void checkParsed(Variant& message, Packet& packet) {
    std::visit(
        [&](auto& m) {
            using Message = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<Message, MediaFrameMessage>) checkMediaFrame(m, packet);
            if constexpr (std::is_same_v<Message, TextInFrameMessage>) checkTextInFrame(m.frame);
            checkRoundTrip(m);
        },
        message);
}

// The client's analyzer on the same packet must agree with the parser.
void checkClientDispatch(Packet& packet, bool parsed, bool malformed) {
    CheckingPlaybackFacade& f = facade();
    f.clearTranscript();
    bool threw = false;
    try {
        f.packetAnalyzer().dispatch(-1, packet, f);
    } catch (const ByteBufferException&) {
        threw = true;
    }
    const auto& transcript = f.transcript();
    uint16_t type = packet.type();
    if (parsed) {
        QF_FUZZ_CHECK(!threw);
        QF_FUZZ_CHECK(transcript.size() == 1 && transcript[0].event == Event::Playback &&
                      transcript[0].value == type);
    } else if (malformed) {
        QF_FUZZ_CHECK(threw && transcript.empty());
    } else if (type == PacketType::FinNotice) {
        QF_FUZZ_CHECK(threw ? transcript.empty()
                            : transcript.size() == 1 && transcript[0].event == Event::Fin);
    } else if (type == PacketType::UnknownTypeNotice) {
        // The recorder's own notice is taken and never answered with another.
        QF_FUZZ_CHECK(!threw && transcript.empty());
    } else {
        QF_FUZZ_CHECK(!threw);
        QF_FUZZ_CHECK(transcript.size() == 1 && transcript[0].event == Event::Unknown &&
                      transcript[0].value == type);
    }
}

void fromRecorder(Packet& packet) {
    bool parsed = false;
    bool malformed = false;
    try {
        std::optional<PlaybackResponseMessage> response = readPlaybackResponse(packet);
        if (response.has_value()) {
            parsed = true;
            checkParsed(*response, packet);
        }
    } catch (const ByteBufferException&) {
        malformed = true;
    }
    checkClientDispatch(packet, parsed, malformed);
}

void toRecorder(Packet& packet) {
    try {
        std::optional<PlaybackRequestMessage> request = readPlaybackRequest(packet);
        if (request.has_value()) checkParsed(*request, packet);
    } catch (const ByteBufferException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 + PacketFormat::HeaderSize) return 0;
    bool toRecorderSide = (data[0] & 1) != 0;
    const uint8_t* header = data + 1;
    const uint8_t* payload = header + PacketFormat::HeaderSize;
    size_t payloadLength = size - 1 - PacketFormat::HeaderSize;

    Packet packet;
    packet.begin(static_cast<uint16_t>((header[PacketFormat::TypeOffset] << 8) |
                                       header[PacketFormat::TypeOffset + 1]));
    packet.put(payload, static_cast<int>(payloadLength));
    packet.finish(false);

    if (toRecorderSide) {
        toRecorder(packet);
    } else {
        fromRecorder(packet);
    }
    return 0;
}
