#pragma once

#include <optional>

#include "IRecorderPacketHandler.h"
#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackMessageVariants.h"
#include "recorder-sim/recording/FrameCursor.h"
#include "recorder-sim/recording/SyntheticFrame.h"

class PlaybackService;
class SyntheticRecording;

// The playback service on one connection of the simulated recorder: list requests are
// answered at once from the recording; a play request (mode 1) streams frames in recording
// order, each with its position, then a stop report; mode 3 positions at a section and a
// pause request at a position (answered with the frame found there, then a stop report),
// and the next play starts with that frame; the jump requests reposition and stream from
// the new place.
//
// Streaming never outruns the connection: frames are generated a batch at a time, and
// only while what was generated before has been taken by the socket, so a slow client
// makes the stream wait and nothing is ever dropped or reordered. Loop thread only.
class PlaybackHandler : public IRecorderPacketHandler {
public:
    explicit PlaybackHandler(PlaybackService& service);

    bool handle(RecorderConnection& connection, Packet& packet) override;
    void tick(RecorderConnection& connection, uint32_t nowMs) override;
    bool wantsToSend() const override { return _streaming && !_stalled && !_pacing; }

    // The overloads that answer each request.
    void on(const RecordingCalendarRequest& m);
    void on(const RecordingTimeTableRequest& m);
    void on(const EventListRequestMessage& m);
    void on(const SectionListRequest& m);
    void on(const PlayRequestMessage& m);
    void on(const PauseRequest& m);
    void on(const EventCalendarRequest& m);
    void on(const EventListContinueRequest& m);
    void on(const JumpToPositionRequest& m);
    void on(const JumpToNearPositionRequest& m);
    void on(const PlaybackIntervalRequest& m);
    void on(const TextInEventListRequest& m);
    void on(const TextInEventListContinueRequest& m);
    void on(const JumpToMediaIDRequest& m);
    void on(const StorageListRequest& m);
    void on(const StorageChangeRequest& m);

private:
    template <typename Message>
    void reply(const Message& message);
    void stopReport(int reason);
    // Ends streaming; the place it reached stays the position for the next play.
    void halt();
    void startStreaming(FrameCursor cursor);
    void jumpTo(std::optional<FrameCursor> cursor);
    // Sends the frame a positioning found (without moving the cursor), a day later when
    // `overwritten`.
    void sendFrameAt(FrameCursor cursor, bool overwritten);
    // Generates up to one batch of frames; false when nothing more may be sent now.
    bool streamBatch(uint32_t nowMs);
    bool paceAllows(const SyntheticFrame& frame, uint32_t nowMs);
    void sendFrame(const SyntheticFrame& frame);
    void sendEventPage();
    void sendTextInPage();

    PlaybackService& _service;
    const SyntheticRecording& _recording;
    RecorderConnection* _connection = nullptr;  // during handle() and tick()
    Packet _packet;

    // Playback.
    BitMask32 _channels;
    Interval _window;
    std::optional<FrameCursor> _cursor;  // where the next frame comes from
    bool _streaming = false;
    std::optional<SyntheticFrame> _held;  // generated, waiting for its time (real time)
    uint32_t _streamStartMs = 0;
    int64_t _streamSeconds = 0;
    std::optional<DateTime> _lastFrameTime;
    long _framesStreamed = 0;
    bool _stalled = false;
    bool _pacing = false;  // real time: the next frame waits for its time

    // Paged lists.
    Interval _eventInterval;
    BitMask32 _eventChannels;
    uint64_t _eventCursor = 0;
    bool _eventsPending = false;
    Interval _textInInterval;
    std::vector<std::string> _textInTexts;
    uint32_t _textInValue = 0;
    uint64_t _textInCursor = 0;
    bool _textInPending = false;
};
