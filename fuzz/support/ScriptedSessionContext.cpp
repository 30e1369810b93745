#include "ScriptedSessionContext.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "FuzzCheck.h"
#include "base/ByteBuffer.h"
#include "base/Exception.h"
#include "network/protocol/PacketFormat.h"
#include "network/session/DisconnectReason.h"
#include "network/session/Session.h"

namespace {

uint32_t bigEndian(const uint8_t* p, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | p[i];
    return value;
}

}  // namespace

ScriptedSessionContext::ScriptedSessionContext(Session& session, SendObserver observer)
    : _session(session), _observer(std::move(observer)) {}

template <typename Callback>
void ScriptedSessionContext::report(Callback callback) {
    try {
        callback();
    } catch (const Exception&) {
        close(DisconnectReason::Other);
    }
}

bool ScriptedSessionContext::close(int reason) {
    if (_closed || _closeRequested) {
        return false;
    }
    _closeRequested = true;
    _requestedReason = reason;
    return true;
}

bool ScriptedSessionContext::send(ByteBuffer& packet, Priority priority) {
    if (_closed) {
        return false;
    }
    int length = packet.remaining();
    QF_FUZZ_CHECK(length >= PacketFormat::HeaderSize);
    const uint8_t* bytes = packet.current();
    QF_FUZZ_CHECK(bigEndian(bytes + PacketFormat::MagicOffset, 2) == PacketFormat::Magic);
    uint32_t payloadLength = bigEndian(bytes + PacketFormat::PayloadLengthOffset, 4);
    QF_FUZZ_CHECK(payloadLength == static_cast<uint32_t>(length - PacketFormat::HeaderSize));
    QF_FUZZ_CHECK(payloadLength % PacketFormat::PayloadAlignment == 0);
    if (_observer) {
        _observer(static_cast<uint16_t>(bigEndian(bytes + PacketFormat::TypeOffset, 2)),
                  bytes + PacketFormat::HeaderSize, static_cast<int>(payloadLength));
    }
    // Like a send queue, the context keeps its own copy: the bytes are gone from the
    // caller's packet as far as it is concerned.
    packet.setPosition(packet.limit());
    (priority == Priority::Urgent ? _urgentSends : _normalSends) += 1;
    return true;
}

bool ScriptedSessionContext::deliver(const uint8_t*& script, size_t& left) {
    ByteBuffer* buffer = std::exchange(_receiveBuffer, nullptr);
    size_t n = std::min(static_cast<size_t>(buffer->remaining()), left);
    if (n > 0) {
        std::memcpy(buffer->current(), script, n);
        buffer->setPosition(buffer->position() + static_cast<int>(n));
        script += n;
        left -= n;
    }
    if (buffer->remaining() > 0) {
        return false;
    }
    report([&] { _session.receiveCompleted(static_cast<int>(n)); });
    return true;
}

void ScriptedSessionContext::end(int reason) {
    _closed = true;
    _closedReason = reason;
    _receiveBuffer = nullptr;
    try {
        _session.connectionClosed(reason);
    } catch (const Exception&) {
    }
}

void ScriptedSessionContext::run(const uint8_t* script, size_t length) {
    report([&] { _session.connectCompleted(); });
    while (true) {
        // The worker writes what is queued (urgent first) before it reads again.
        if (_urgentSends > 0 || _normalSends > 0) {
            (_urgentSends > 0 ? _urgentSends : _normalSends) -= 1;
            report([&] { _session.sendCompleted(); });
            continue;
        }
        if (_closeRequested) {
            end(_requestedReason);
            return;
        }
        if (_receiveBuffer != nullptr) {
            if (!deliver(script, length)) {
                end(DisconnectReason::PeerClosed);
                return;
            }
            continue;
        }
        // Nothing to write, nothing asked for and no close: the session would sit on the
        // connection until the alive checker gave up on it.
        fuzzCheckFailed(__FILE__, __LINE__, "the session neither reads, writes nor closes");
    }
}
