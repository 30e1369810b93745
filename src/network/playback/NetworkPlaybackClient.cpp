#include "network/playback/NetworkPlaybackClient.h"

#include <cstdlib>

#include "base/Exception.h"
#include "base/SocketAddressInfoException.h"
#include "base/Trace.h"
#include "network/playback/NetworkPlaybackContext.h"
#include "network/session/DisconnectReason.h"

namespace {

// Requests without natural bounds cover the whole calendar.
const Date CalendarFirst(1900, 1, 1);
const Date CalendarLast(2100, 12, 31);

NetworkPlaybackContext& context() {
    return NetworkPlaybackContext::instance();
}

}  // namespace

NetworkPlaybackClient::NetworkPlaybackClient() = default;

NetworkPlaybackClient::~NetworkPlaybackClient() {
    if (handle.load() != -1) {
        disconnect(true);
    }
    detach();
}

void NetworkPlaybackClient::attach(int queueBytes, IPlaybackClientListener* listener) {
    attachListener(queueBytes, listener);
    _attached = true;
}

void NetworkPlaybackClient::detach() {
    // Closing the queue first releases the network thread if it waits for room in it;
    // forgetting then waits for any call into this client to return, after which the
    // queue can go.
    closeListener();
    context().forget(*this);
    releaseListener();
    _attached = false;
}

int NetworkPlaybackClient::connect(const std::string& host, uint16_t port, const std::string& user,
                                   const std::string& password) {
    _lastConnectError.store(0);
    int h = -1;
    try {
        h = context().connect(*this, host, port, user, password);
    } catch (const SocketAddressInfoException& e) {
        QF_TRACE("NetworkPlaybackClient::connect : %s\n", messageOf(e));
        _lastConnectError.store(DisconnectReason::HostNotFound);
        return -1;
    } catch (const Exception& e) {
        QF_TRACE("NetworkPlaybackClient::connect : %s\n", messageOf(e));
        _lastConnectError.store(e.errorCode() != 0 ? e.errorCode() : DisconnectReason::Other);
        return -1;
    }
    // The context has stored the handle already, under its mutex; storing it again here
    // could bring back a handle whose disconnect was reported in between.
    return h;
}

void NetworkPlaybackClient::disconnect(bool requested) {
    int h = handle.load();
    if (h != -1) {
        context().disconnect(h, requested);
    }
}

bool NetworkPlaybackClient::isConnected() {
    int h = handle.load();
    return h != -1 && context().isConnected(h);
}

template <typename Send>
bool NetworkPlaybackClient::request(const char* what, Send send) {
    int h = handle.load();
    if (h == -1) {
        return false;
    }
    try {
        send(context(), h);
        return true;
    } catch (const Exception& e) {
        QF_TRACE("NetworkPlaybackClient::%s : %s\n", what, messageOf(e));
        return false;
    }
}

bool NetworkPlaybackClient::requestRecordingCalendar() {
    return request("requestRecordingCalendar", [&](NetworkPlaybackContext& c, int h) {
        c.sendRecordingCalendarRequest(h, CalendarFirst, CalendarLast);
    });
}

bool NetworkPlaybackClient::requestRecordingTimeTable(const Interval& interval, BitMask32 channels) {
    return request("requestRecordingTimeTable", [&](NetworkPlaybackContext& c, int h) {
        c.sendRecordingTimeTableRequest(h, interval, channels);
    });
}

bool NetworkPlaybackClient::requestSectionList(const Interval& interval, BitMask32 channels) {
    return request("requestSectionList",
                   [&](NetworkPlaybackContext& c, int h) { c.sendSectionListRequest(h, interval, channels); });
}

bool NetworkPlaybackClient::requestEventCalendar() {
    _textInCalendar.store(false);
    return request("requestEventCalendar", [&](NetworkPlaybackContext& c, int h) {
        c.sendEventCalendarRequest(h, CalendarFirst, CalendarLast, false);
    });
}

bool NetworkPlaybackClient::requestTextInEventCalendar() {
    _textInCalendar.store(true);
    return request("requestTextInEventCalendar", [&](NetworkPlaybackContext& c, int h) {
        c.sendEventCalendarRequest(h, CalendarFirst, CalendarLast, true);
    });
}

bool NetworkPlaybackClient::requestEventList(const EventListRequest& list) {
    return request("requestEventList", [&](NetworkPlaybackContext& c, int h) { c.sendEventListRequest(h, list); });
}

bool NetworkPlaybackClient::continueEventList(unsigned value, bool flag) {
    return request("continueEventList",
                   [&](NetworkPlaybackContext& c, int h) { c.sendEventListContinueRequest(h, value, flag); });
}

bool NetworkPlaybackClient::requestTextInEventList(const Interval& interval, const std::vector<std::string>& texts,
                                                   bool flag, unsigned value) {
    return request("requestTextInEventList", [&](NetworkPlaybackContext& c, int h) {
        c.sendTextInEventListRequest(h, interval, texts, flag, value);
    });
}

bool NetworkPlaybackClient::continueTextInEventList(unsigned value, bool flag) {
    return request("continueTextInEventList",
                   [&](NetworkPlaybackContext& c, int h) { c.sendTextInEventListContinueRequest(h, value, flag); });
}

bool NetworkPlaybackClient::requestPlaybackInterval(const Interval& interval) {
    return request("requestPlaybackInterval",
                   [&](NetworkPlaybackContext& c, int h) { c.sendPlaybackIntervalRequest(h, interval); });
}

bool NetworkPlaybackClient::pause(const MediaPosition& position) {
    return handle.load() != -1 && positionAt(position);
}

bool NetworkPlaybackClient::supportsStorageList(const char* version) {
    if (version == nullptr) {
        return false;
    }
    char* end = nullptr;
    long major = std::strtol(version, &end, 10);
    if (end == version) {
        return false;  // no version number at all
    }
    long minor = 0;
    if (*end == '.') {
        minor = std::strtol(end + 1, nullptr, 10);
    }
    return major > 1 || (major == 1 && minor >= 2);
}

bool NetworkPlaybackClient::requestStorageList() {
    if (!supportsStorageList(productInfo().version())) {
        return false;
    }
    return request("requestStorageList",
                   [&](NetworkPlaybackContext& c, int h) { c.sendStorageListRequest(h, false); });
}

bool NetworkPlaybackClient::changeStorage(const std::string& name) {
    // An older recorder would not answer the change, and the client would wait for the
    // answer for ever.
    if (handle.load() == -1 || !supportsStorageList(productInfo().version())) {
        return false;
    }
    if (!storageChangingEvent()) {
        return false;
    }
    return request("changeStorage",
                   [&](NetworkPlaybackContext& c, int h) { c.sendStorageChangeRequest(h, name.c_str()); });
}

bool NetworkPlaybackClient::requestSensorInfo() {
    QF_TRACE("Remote GSensorInfo Request not implemented\n");
    return false;
}

RemoteSystemInfo NetworkPlaybackClient::systemInfo() const {
    std::lock_guard<std::mutex> guard(_infoMutex);
    return _systemInfo;
}

ProductInfo NetworkPlaybackClient::productInfo() const {
    std::lock_guard<std::mutex> guard(_infoMutex);
    return _productInfo;
}

// ---- transmit --------------------------------------------------------------------------------

void NetworkPlaybackClient::transmitPlay(const PlayRequest& play) {
    context().sendPlayRequest(handle.load(), play);
}

void NetworkPlaybackClient::transmitJumpToPosition(const MediaPosition& position, uint64_t mediaID) {
    context().sendJumpToPositionRequest(handle.load(), position, mediaID);
}

void NetworkPlaybackClient::transmitJumpToMediaID(unsigned value, uint64_t mediaID, BitMask32 channels) {
    context().sendJumpToMediaIDRequest(handle.load(), value, mediaID, channels);
}

void NetworkPlaybackClient::transmitJumpNear(const MediaPosition& position, const DateTime& time, int value,
                                             BitMask32 channels) {
    context().sendJumpToNearPositionRequest(handle.load(), position, time, value, channels);
}

void NetworkPlaybackClient::transmitPause(const MediaPosition& position) {
    context().sendPauseRequest(handle.load(), position);
}

bool NetworkPlaybackClient::mayWaitForRoom() const {
    return !context().isDispatcherThread();
}

void NetworkPlaybackClient::holdSource() {
    _heldHandle = handle.load();
    if (_heldHandle != -1) {
        context().holdReceiving(_heldHandle);
    }
}

void NetworkPlaybackClient::releaseSource() {
    int held = _heldHandle;
    _heldHandle = -1;
    if (held != -1) {
        context().resumeReceiving(held);
    }
}

// ---- session callbacks (network thread) ------------------------------------------------------

void NetworkPlaybackClient::connected() {
    resetLastDelivered();
    connectedEvent();
    if (IPlaybackClientListener* l = listener()) {
        l->connected(handle.load());
    }
}

void NetworkPlaybackClient::disconnected(int reason) {
    int h = handle.exchange(-1);
    // Whatever was queued for the listener belongs to a connection that is gone.
    clearQueue();
    disconnectedEvent();
    if (IPlaybackClientListener* l = listener()) {
        l->disconnected(h, reason);
    }
}

void NetworkPlaybackClient::systemInfoReceived(const RemoteSystemInfo& info) {
    {
        std::lock_guard<std::mutex> guard(_infoMutex);
        _systemInfo = info;
    }
    if (IPlaybackClientListener* l = listener()) {
        l->systemInfoReceived(handle.load(), info);
    }
}

void NetworkPlaybackClient::productInfoReceived(const ProductInfo& info) {
    std::lock_guard<std::mutex> guard(_infoMutex);
    _productInfo = info;
}

void NetworkPlaybackClient::recordingTimeTableReceived(const std::vector<RecordedSlice>& slices) {
    if (IPlaybackClientListener* l = listener()) {
        l->recordingTimeTableReceived(handle.load(), slices);
    }
}

void NetworkPlaybackClient::sectionListReceived(BitMask32 channels, const Interval& interval,
                                                const std::vector<uint32_t>& sections) {
    if (IPlaybackClientListener* l = listener()) {
        l->playbackRecordingSectionListReceived(handle.load(), channels, interval, sections);
    }
}

void NetworkPlaybackClient::textInFrameReceived(const TextInFrame& frame, const MediaPosition& position) {
    textInEvent(frame, position);
}

void NetworkPlaybackClient::mediaFrameReceived(const MediaFrame& frame, bool flag, const MediaPosition& position) {
    frameEvent(frame, flag, position);
}

void NetworkPlaybackClient::playbackStopped(int reason) {
    stoppedEvent(reason);
}

void NetworkPlaybackClient::eventListReceived(const EventListResponse& list) {
    if (IPlaybackClientListener* l = listener()) {
        l->playbackEventListReceived(handle.load(), list);
    }
}

void NetworkPlaybackClient::storageChanged() {
    storageKnownEvent();
}

bool NetworkPlaybackClient::replyOverdue(uint32_t now, uint32_t limitMs) {
    return isWaitOverdue(now, limitMs);
}
