#pragma once

#include <optional>
#include <variant>

#include "network/protocol/Packet.h"
#include "network/protocol/playback/PlaybackMessages.h"
#include "network/protocol/playback/PlaybackWire.h"

// Received playback packets as one value per direction, so that a receiver can parse
// whatever arrives and dispatch with std::visit. Requests and responses share packet
// types (519 is a pause request one way and a stop notice the other), so each side reads
// with its own function.

// What a recorder receives from a client.
using PlaybackRequestMessage =
    std::variant<RecordingCalendarRequest, RecordingTimeTableRequest, EventListRequestMessage, SectionListRequest,
                 PlayRequestMessage, PauseRequest, EventCalendarRequest, EventListContinueRequest,
                 JumpToPositionRequest, JumpToNearPositionRequest, PlaybackIntervalRequest, TextInEventListRequest,
                 TextInEventListContinueRequest, JumpToMediaIDRequest, StorageListRequest, StorageChangeRequest>;

// What a client receives from a recorder.
using PlaybackResponseMessage =
    std::variant<RecordingCalendarResponse, RecordingTimeTableResponse, EventListResponse, SectionListResponse,
                 MediaFrameMessage, PlaybackStopNotice, EventCalendarResponse, TextInFrameMessage,
                 TextInEventListResponse, StorageListResponse, StorageChangeResponse>;

// Empty when the packet's type is not a playback request (the caller answers it as
// unknown); ByteBufferException when the payload is short or inconsistent.
std::optional<PlaybackRequestMessage> readPlaybackRequest(Packet& packet);
// Empty when the packet's type is not a playback response; ByteBufferException when the
// payload is short or inconsistent. A media frame's data points into `packet`.
std::optional<PlaybackResponseMessage> readPlaybackResponse(Packet& packet);
