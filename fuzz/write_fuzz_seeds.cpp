// Writes the seed corpora of the fuzz targets into <folder>/<target>/, from the project's
// own encoders: real, small inputs from which the fuzzer starts. Run by hand when a
// message layout changes:
//
//     build/fuzz/fuzz/write_fuzz_seeds fuzz/corpus
//
// The layouts of the inputs are described at the top of each fuzz_<target>.cpp.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "network/protocol/ClientPacketAnalyzer.h"
#include "network/protocol/EncryptionKey.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/Login.h"
#include "network/protocol/LoginResult.h"
#include "network/protocol/NewAliveCheckOption.h"
#include "network/protocol/Packet.h"
#include "network/protocol/PacketAnalyzer.h"
#include "network/protocol/ProductInfo.h"
#include "network/protocol/ProfileList.h"
#include "network/protocol/Protocol.h"
#include "network/protocol/RemoteOemInfo.h"
#include "network/protocol/RemoteSystemInfo.h"
#include "network/protocol/SyncOptionList.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/PlaybackWire.h"

namespace {

using Bytes = std::vector<uint8_t>;

const DateTime Start(2009, 3, 1, 23, 0, 0);
const DateTime End(2009, 3, 2, 1, 30, 0);
const Interval Span(Start, End);
const MediaPosition Position{7, 1024, 3};

std::filesystem::path root;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
    std::filesystem::path folder = root / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
        std::exit(1);
    }
}

Bytes bytesOf(Packet& packet) {
    return Bytes(packet.data(), packet.data() + packet.limit());
}

void append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

template <typename Message>
Bytes encoded(const Message& message) {
    Packet packet;
    writePlaybackMessage(packet, message);
    return bytesOf(packet);
}

Bytes emptyPacket(uint16_t type) {
    Packet packet;
    packet.begin(type);
    packet.finish(true);
    return bytesOf(packet);
}

Bytes aliveCheck(bool isReply) {
    Packet packet;
    ClientPacketAnalyzer().buildAliveCheck(packet, isReply);
    return bytesOf(packet);
}

// ---- a recorder's answers -------------------------------------------------------------

struct SyncResponseOptions {
    Protocol protocol = Protocol::local();
    bool playbackProfile = true;
    bool newAliveCheck = true;
    Bytes extraOptions;  // raw id/length/bytes, placed before the key
};

Bytes syncResponse(const SyncResponseOptions& o) {
    ProfileList profiles;
    profiles.add(1, 1, true);
    profiles.add(o.playbackProfile ? 2 : 3, 1, true);
    ProductInfo product;
    product.set(1, 0x1601, "QF-SIM16", "1.2");
    RemoteOemInfo oem;
    oem.set(false, "Quill Fen");
    RemoteSystemInfo system;
    system.hardwareAddress = {0x02, 0x51, 0x46, 0x00, 0x00, 0x01};
    system.systemKind = 1;
    system.VideoInNum = 16;
    system.AudioInNum = 4;
    system.AudioOutNum = 1;
    system.AlarmNum = 8;
    system.SensorNum = 8;
    system.setSystemName("recorder");
    EncryptionKey key(EncryptionKey::Bytes{0x11, 0x22, 0x33, 0x44});

    SyncOptionList options;
    options.add(profiles);
    options.add(product);
    options.add(oem);
    SyncOptionList tail;
    tail.add(key);
    tail.add(system);
    if (o.newAliveCheck) tail.add(NewAliveCheckOption::instance());

    Packet packet;
    packet.begin(PacketType::SyncResponse);
    o.protocol.writeTo(packet);
    options.writeTo(packet);
    if (!o.extraOptions.empty()) packet.put(o.extraOptions.data(), static_cast<int>(o.extraOptions.size()));
    tail.writeTo(packet);
    packet.finish(true);
    return bytesOf(packet);
}

Bytes loginResponse(int code) {
    LoginResult result;
    result.code = code;
    result.value = 0;
    result.extra = 0;
    Packet packet;
    packet.begin(PacketType::LoginResponse);
    result.writeTo(packet);
    packet.finish(true);
    return bytesOf(packet);
}

Bytes finNotice() {
    Packet packet;
    packet.begin(PacketType::FinNotice);
    FinOption(1, "shutdown", 2).writeTo(packet);
    packet.finish(true);
    return bytesOf(packet);
}

Bytes unknownType(uint16_t type) {
    Packet packet;
    packet.begin(type);
    packet.putInt(0x01020304);
    packet.finish(true);
    return bytesOf(packet);
}

MediaFrameMessage videoFrame(const Bytes& data) {
    MediaFrameMessage m;
    m.flag = false;
    m.position = Position;
    m.frame.mediaType = PlaybackLayout::MediaTypeVideo;
    m.frame.syncIndex = 0;
    m.frame.syncKeyID = 41;
    m.frame.channelMask = BitMask32(0x1);
    m.frame.dataLength = static_cast<uint32_t>(data.size() - 4);
    m.frame.extraLength = 4;
    m.frame.mediaID = 0x0000000100000002ull;
    m.frame.time = Start;
    m.frame.linkedChannelMask = BitMask32(0x1);
    m.frame.data = data.data();
    return m;
}

TextInFrameMessage textInFrame() {
    TextInFrameMessage m;
    m.position = Position;
    m.frame.channelMask = BitMask32(0x3);
    m.frame.mediaID = 77;
    m.frame.time = End;
    m.frame.syncKeyID = 41;
    m.frame.syncIndex = 2;
    m.frame.sectionID = 5;
    m.frame.flags = 1;
    m.frame.setText("TOTAL 12.50");
    return m;
}

RecordingTimeTableResponse timeTable() {
    RecordingTimeTableResponse m;
    m.slices.push_back(RecordedSlice{2, Interval(End, End.plusSeconds(600)), BitMask32(0x3)});
    m.slices.push_back(RecordedSlice{1, Span, BitMask32(0x1)});
    return m;
}

EventListResponse eventList() {
    EventListResponse m;
    m.hasMore = true;
    m.events.push_back(PlaybackEvent{1, 0, BitMask32(0x1), Start, 12, Position});
    m.events.push_back(PlaybackEvent{4, 2, BitMask32(0x2), End, 13, MediaPosition{8, 0, 1}});
    return m;
}

TextInEventListResponse textInList() {
    TextInEventListResponse m;
    m.value = 3;
    TextInListEntry entry;
    entry.mediaID = 77;
    entry.param1 = 5;
    entry.time = End;
    entry.param2 = 41;
    entry.param3 = 2;
    entry.channels = BitMask32(0x3);
    entry.setText("TOTAL 12.50");
    m.entries.push_back(entry);
    return m;
}

StorageListResponse storageList() {
    StorageListResponse m;
    m.storages.push_back(StorageListEntry{1, "internal"});
    m.storages.push_back(StorageListEntry{2, "usb"});
    return m;
}

// ---- packet_stream: [settings][4 seed bytes][stream] ------------------------------------

Bytes streamInput(uint8_t settings, uint32_t seed, const Bytes& stream) {
    Bytes input{settings, static_cast<uint8_t>(seed >> 24), static_cast<uint8_t>(seed >> 16),
                static_cast<uint8_t>(seed >> 8), static_cast<uint8_t>(seed)};
    append(input, stream);
    return input;
}

Bytes header(uint16_t type, uint32_t payloadLength) {
    return Bytes{0x06,
                 0x17,
                 static_cast<uint8_t>(type >> 8),
                 static_cast<uint8_t>(type),
                 static_cast<uint8_t>(payloadLength >> 24),
                 static_cast<uint8_t>(payloadLength >> 16),
                 static_cast<uint8_t>(payloadLength >> 8),
                 static_cast<uint8_t>(payloadLength)};
}

void writePacketStreamSeeds() {
    const std::string target = "packet_stream";
    Packet packet;
    SyncOptionList options;
    options.add(NewAliveCheckOption::instance());
    ClientPacketAnalyzer analyzer;

    Bytes session;
    analyzer.buildSyncRequest(packet, options);
    append(session, bytesOf(packet));
    append(session, syncResponse({}));
    analyzer.buildLoginRequest(packet, Login("admin", "secret"), EncryptionKey::Bytes{1, 2, 3, 4});
    append(session, bytesOf(packet));
    append(session, loginResponse(1));
    append(session, aliveCheck(false));
    analyzer.buildUnknownTypeNotice(packet, 600);
    append(session, bytesOf(packet));
    append(session, encoded(storageList()));
    write(target, "session_packets", streamInput(0, 1, session));
    write(target, "session_packets_small_maximum", streamInput(1, 7, session));

    Bytes empties;
    append(empties, emptyPacket(PacketType::ChannelFull));
    append(empties, emptyPacket(PacketType::AliveCheck));
    append(empties, emptyPacket(PacketType::StorageChange));
    write(target, "empty_payloads", streamInput(0, 3, empties));

    // A frame packet of 100000 payload bytes, more than a packet's initial storage: its
    // header, the frame header and the start of the data here, the rest from 6 blocks
    // of 17 KiB filler.
    Bytes data(100000 - 1 - 12 - 64, 0x5A);
    Bytes large = encoded(videoFrame(data));
    large.resize(PacketFormat::HeaderSize + 1 + 12 + 64 + 64);
    write(target, "large_frame_with_filler", streamInput(6 << 2 | 2, 5, large));

    // The largest payload a session accepts, all of it filler.
    write(target, "largest_payload_with_filler",
          streamInput(61 << 2 | 2, 11, header(PacketType::MediaFrame, PacketFormat::MaxClientPayloadLength)));

    Bytes oversize = aliveCheck(true);
    append(oversize, header(PacketType::SyncResponse, PacketFormat::MaxClientPayloadLength + 1));
    append(oversize, aliveCheck(true));
    write(target, "oversize_header", streamInput(0, 9, oversize));
}

// ---- handshake: the recorder's byte stream ----------------------------------------------

void writeHandshakeSeeds() {
    const std::string target = "handshake";
    Bytes data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);

    Bytes full = syncResponse({});
    append(full, loginResponse(1));
    append(full, encoded(RecordingCalendarResponse{{Date(2009, 3, 1), Date(2009, 3, 2)}}));
    append(full, encoded(timeTable()));
    append(full, encoded(SectionListResponse{BitMask32(0x1), Span, {1, 2}}));
    append(full, encoded(eventList()));
    append(full, encoded(videoFrame(data)));
    append(full, encoded(textInFrame()));
    append(full, aliveCheck(false));
    append(full, aliveCheck(true));
    append(full, encoded(PlaybackStopNotice{4}));
    append(full, unknownType(600));
    append(full, encoded(storageList()));
    append(full, encoded(StorageChangeResponse{}));
    append(full, encoded(textInList()));
    append(full, finNotice());
    write(target, "login_and_playback", full);

    write(target, "channel_full", emptyPacket(PacketType::ChannelFull));

    Bytes refused = syncResponse({});
    append(refused, loginResponse(3));
    write(target, "login_refused", refused);

    SyncResponseOptions noProfile;
    noProfile.playbackProfile = false;
    write(target, "no_playback_profile", syncResponse(noProfile));

    SyncResponseOptions newer;
    newer.protocol = Protocol("KVRZ", 2, true, 1, 1);
    newer.newAliveCheck = false;
    newer.extraOptions = {200, 0x00, 0x03, 0xAA, 0xBB, 0xCC, 8, 0x00, 0x02, 0x01, 0x04};
    Bytes newerLogin = syncResponse(newer);
    append(newerLogin, loginResponse(1));
    append(newerLogin, encoded(PlaybackStopNotice{3}));
    write(target, "newer_protocol_unknown_options", newerLogin);

    Bytes aliveFirst = aliveCheck(false);
    append(aliveFirst, syncResponse({}));
    append(aliveFirst, aliveCheck(false));
    append(aliveFirst, loginResponse(1));
    write(target, "alive_checks_during_handshake", aliveFirst);
}

// ---- playback_messages: [direction][packet] ---------------------------------------------

void writeMessageSeed(const std::string& name, bool toRecorder, const Bytes& packet) {
    Bytes input{static_cast<uint8_t>(toRecorder ? 1 : 0)};
    append(input, packet);
    write("playback_messages", name, input);
}

void writePlaybackMessageSeeds() {
    Bytes data(24);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xF0 - i);

    writeMessageSeed("recording_calendar", false,
                     encoded(RecordingCalendarResponse{{Date(2009, 1, 1), Date(2009, 1, 31)}}));
    writeMessageSeed("time_table", false, encoded(timeTable()));
    writeMessageSeed("time_table_empty", false, encoded(RecordingTimeTableResponse{}));
    writeMessageSeed("section_list", false, encoded(SectionListResponse{BitMask32(0x3), Span, {9, 10, 11}}));
    writeMessageSeed("media_frame", false, encoded(videoFrame(data)));
    writeMessageSeed("playback_stopped", false, encoded(PlaybackStopNotice{4}));
    writeMessageSeed("event_calendar", false, encoded(EventCalendarResponse{{Date(2009, 3, 1)}}));
    writeMessageSeed("event_list", false, encoded(eventList()));
    writeMessageSeed("text_in_frame", false, encoded(textInFrame()));
    // As older recorders send it: the payload ends right after the text.
    Bytes withoutFlags = encoded(textInFrame());
    const size_t payloadWithoutFlags = 12 + 4 + 8 + 8 + 4 + 2 + 4 + PlaybackLayout::TextInTextSize;
    withoutFlags.resize(PacketFormat::HeaderSize + payloadWithoutFlags);
    withoutFlags[7] = static_cast<uint8_t>(payloadWithoutFlags);
    writeMessageSeed("text_in_frame_without_flags", false, withoutFlags);
    writeMessageSeed("text_in_list", false, encoded(textInList()));
    writeMessageSeed("storage_list", false, encoded(storageList()));
    writeMessageSeed("storage_changed", false, encoded(StorageChangeResponse{}));
    writeMessageSeed("fin_notice", false, finNotice());
    writeMessageSeed("unknown_type", false, unknownType(600));

    PlayRequest play;
    play.mode = 1;
    play.interval = Span;
    play.channels = BitMask32(0x1);
    play.param1 = 1;
    play.param2 = 1;
    EventListRequest events;
    events.interval = Span;
    events.channels = BitMask32(0xF);
    writeMessageSeed("request_calendar", true,
                     encoded(RecordingCalendarRequest{Date(2009, 1, 1), Date(2009, 1, 31)}));
    writeMessageSeed("request_time_table", true, encoded(RecordingTimeTableRequest{Span, BitMask32(0xFFFF)}));
    writeMessageSeed("request_play", true, encoded(PlayRequestMessage{play}));
    writeMessageSeed("request_sections", true, encoded(SectionListRequest{BitMask32(0x1), Span}));
    writeMessageSeed("request_pause", true, encoded(PauseRequest{Position}));
    writeMessageSeed("request_event_calendar", true,
                     encoded(EventCalendarRequest{Date(1900, 1, 1), Date(2100, 12, 31), true}));
    writeMessageSeed("request_events", true, encoded(EventListRequestMessage{events}));
    writeMessageSeed("request_events_continue", true, encoded(EventListContinueRequest{true, 2}));
    writeMessageSeed("request_jump_position", true, encoded(JumpToPositionRequest{Position, 99, false, {}}));
    writeMessageSeed("request_jump_event", true,
                     encoded(JumpToPositionRequest{Position, 0, true, BitMask32(0x2)}));
    writeMessageSeed("request_jump_near", true,
                     encoded(JumpToNearPositionRequest{Position, Start, 1, BitMask32(0x1)}));
    writeMessageSeed("request_interval", true, encoded(PlaybackIntervalRequest{Span}));
    writeMessageSeed("request_text_in_list", true,
                     encoded(TextInEventListRequest{Span, 0, {"TOTAL", "VOID"}, false}));
    writeMessageSeed("request_text_in_continue", true, encoded(TextInEventListContinueRequest{false, 1}));
    writeMessageSeed("request_jump_media_id", true, encoded(JumpToMediaIDRequest{0, 77, BitMask32(0x1)}));
    writeMessageSeed("request_storages", true, encoded(StorageListRequest{false}));
    writeMessageSeed("request_storage_change", true, encoded(StorageChangeRequest{"usb"}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    root = argv[1];
    writePacketStreamSeeds();
    writeHandshakeSeeds();
    writePlaybackMessageSeeds();
    return 0;
}
