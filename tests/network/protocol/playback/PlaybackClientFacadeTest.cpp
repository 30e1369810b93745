#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackClientFacade.h"

namespace {

// Records what the analyzer hands to the facade, as text.
class RecordingFacade : public PlaybackClientFacade {
public:
    RecordingFacade() : PlaybackClientFacade(4, "PlaybackClientFacadeTest") {}

    std::vector<std::string> calls;

    void disconnected(int, int, void*) override {}
    void connected(int, void*) override {}
    void loginSucceeded(int, const LoginResult&) override {}
    void loginFailed(int, const LoginResult&) override {}
    void finReceived(int, const FinOption&) override { calls.push_back("fin"); }
    void systemInfoReceived(int, const RemoteSystemInfo&) override {}
    void productInfoReceived(int, const ProductInfo&) override {}

    void recordingCalendarReceived(int h, const std::vector<Date>& d) override { add(h, "calendar", d.size()); }
    void recordingTimeTableReceived(int h, const std::vector<RecordedSlice>& s) override {
        slices = s;
        add(h, "timeTable", s.size());
    }
    void sectionListReceived(int h, BitMask32 c, const Interval&, const std::vector<uint32_t>& s) override {
        add(h, "sections", s.size() * 100 + c.value());
    }
    void mediaFrameReceived(int h, const MediaFrame& f, bool flag, const MediaPosition& p) override {
        add(h, flag ? "frame+" : "frame", f.data[0] + p.positionC);
    }
    void playbackStopped(int h, int reason) override { add(h, "stopped", reason); }
    void eventCalendarReceived(int h, const std::vector<Date>& d) override { add(h, "eventCalendar", d.size()); }
    void eventListReceived(int h, const EventListResponse& l) override { add(h, "events", l.events.size() + 10 * l.hasMore); }
    void textInFrameReceived(int h, const TextInFrame& f, bool flag, const MediaPosition&) override {
        add(h, flag && f.linkedChannelMask.value() == 0xFFFFFFFF ? "textIn" : "textIn?", f.flags);
    }
    void textInEventListReceived(int h, const TextInEventListResponse& l) override { add(h, "texts", l.entries.size()); }
    void storageListReceived(int h, const StorageListResponse& l) override { add(h, "storages", l.storages.size()); }
    void storageChanged(int h) override { add(h, "storageChanged", 0); }

    std::vector<RecordedSlice> slices;

private:
    void add(int handle, const char* what, uint64_t n) {
        calls.push_back(std::to_string(handle) + " " + what + " " + std::to_string(n));
    }
};

template <typename M>
bool deliver(RecordingFacade& facade, const M& message, int handle = 1000) {
    Packet packet;
    writePlaybackMessage(packet, message);
    return facade.packetAnalyzer().dispatch(handle, packet, facade);
}

DateTime at(int h) { return DateTime(2011, 6, 1, h, 0, 0); }

}  // namespace

TEST(PlaybackClientFacade, EveryResponseReachesItsNotification) {
    RecordingFacade facade;
    uint8_t data[4] = {40, 0, 0, 0};
    MediaFrameMessage frame{true, {0, 0, 2}, {}};
    frame.frame.dataLength = 4;
    frame.frame.data = data;
    TextInFrameMessage text;
    text.frame.flags = 2;

    EXPECT_TRUE(deliver(facade, RecordingCalendarResponse{{Date(2011, 6, 1)}}));
    EXPECT_TRUE(deliver(facade, RecordingTimeTableResponse{{{2, Interval(at(5), at(6)), BitMask32(1)},
                                                            {1, Interval(at(1), at(2)), BitMask32(1)}}}));
    EXPECT_TRUE(deliver(facade, SectionListResponse{BitMask32(3), Interval(), {1, 2}}));
    EXPECT_TRUE(deliver(facade, frame));
    EXPECT_TRUE(deliver(facade, PlaybackStopNotice{4}, 1001));
    EXPECT_TRUE(deliver(facade, EventCalendarResponse{{}}));
    EXPECT_TRUE(deliver(facade, EventListResponse{true, false, {PlaybackEvent{}}}));
    EXPECT_TRUE(deliver(facade, text));
    EXPECT_TRUE(deliver(facade, TextInEventListResponse{}));
    EXPECT_TRUE(deliver(facade, StorageListResponse{false, {{1, "a"}, {2, "b"}}}));
    EXPECT_TRUE(deliver(facade, StorageChangeResponse{}));

    EXPECT_EQ(facade.calls,
              (std::vector<std::string>{"1000 calendar 1", "1000 timeTable 2", "1000 sections 203", "1000 frame+ 42",
                                        "1001 stopped 4", "1000 eventCalendar 0", "1000 events 11", "1000 textIn 2",
                                        "1000 texts 0", "1000 storages 2", "1000 storageChanged 0"}));
    // The time table arrives sorted by time.
    ASSERT_EQ(facade.slices.size(), 2u);
    EXPECT_EQ(facade.slices[0].id, 1u);
}

TEST(PlaybackClientFacade, MalformedAndForeignPacketsAreNotDelivered) {
    RecordingFacade facade;
    Packet packet;
    packet.begin(PacketType::RecordingTimeTable);
    packet.putInt(5);  // five entries announced, none present
    packet.finish(true);
    EXPECT_THROW(facade.packetAnalyzer().dispatch(1000, packet, facade), ByteBufferException);

    // A request type arriving at the client is not a playback response: it is answered as
    // unknown (no session here, so nothing is sent) and still counts as handled.
    writePlaybackMessage(packet, PlayRequestMessage{});
    EXPECT_TRUE(facade.packetAnalyzer().dispatch(1000, packet, facade));
    EXPECT_TRUE(facade.calls.empty());
}
