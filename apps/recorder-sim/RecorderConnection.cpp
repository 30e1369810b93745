#include "RecorderConnection.h"

#include "RecorderSim.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "network/socket/SocketApiWrapper.h"

RecorderConnection::RecorderConnection(RecorderSim& sim, int socket)
    // The simulator accepts whatever a client may send, up to the largest packet it expects.
    : _sim(sim), _socket(socket), _assembler(PacketFormat::MaxClientPayloadLength) {}

RecorderConnection::~RecorderConnection() {
    try {
        SocketApiWrapper::closeSocket(_socket);
    } catch (const Exception&) {
    }
}

void RecorderConnection::addHandler(std::unique_ptr<IRecorderPacketHandler> handler) {
    _handlers.push_back(std::move(handler));
}

void RecorderConnection::onReadable() {
    uint8_t bytes[16384];
    for (int round = 0; round < 16 && !isFinished(); ++round) {
        int n = 0;
        try {
            n = SocketApiWrapper::recv(_socket, bytes, sizeof bytes);
        } catch (const Exception&) {
            _closed = true;
            return;
        }
        if (n < 0) {
            return;
        }
        if (n == 0) {
            _closed = true;
            return;
        }
        bool ok = _assembler.feedAll(bytes, static_cast<size_t>(n), [this](Packet& packet) { dispatch(packet); });
        if (!ok) {
            _closed = true;
            return;
        }
    }
}

void RecorderConnection::onWritable() {
    while (!_output.empty()) {
        int n = 0;
        try {
            n = SocketApiWrapper::send(_socket, _output.data(), static_cast<int>(_output.size()));
        } catch (const Exception&) {
            _closed = true;
            return;
        }
        if (n <= 0) {
            return;
        }
        _output.erase(_output.begin(), _output.begin() + n);
    }
}

void RecorderConnection::tick(uint32_t nowMs) {
    for (auto& handler : _handlers) {
        handler->tick(*this, nowMs);
    }
}

bool RecorderConnection::wantsToSend() const {
    for (const auto& handler : _handlers) {
        if (handler->wantsToSend()) {
            return true;
        }
    }
    return false;
}

void RecorderConnection::send(Packet& packet) {
    sendRaw(packet.data(), packet.limit());
}

void RecorderConnection::sendRaw(const void* bytes, int length) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    _output.insert(_output.end(), p, p + length);
    lastSendMs = Clock::current().tickCount();
}

void RecorderConnection::dispatch(Packet& packet) {
    _sim.countReceived(packet.type());
    if (silent || isFinished()) {
        return;
    }
    try {
        for (auto& handler : _handlers) {
            if (handler->handle(*this, packet)) {
                return;
            }
        }
        Packet notice;
        notice.begin(PacketType::UnknownTypeNotice);
        notice.putShort(packet.type());
        notice.finish(true);
        send(notice);
    } catch (const std::exception&) {
        // A packet shorter than its layout: a real recorder drops such a client.
        _closed = true;
    } catch (const Exception&) {
        _closed = true;
    }
}
