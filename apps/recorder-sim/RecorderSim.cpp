#include "RecorderSim.h"

#include <poll.h>

#include "RecorderConnection.h"
#include "SessionHandler.h"
#include "base/Clock.h"
#include "base/Exception.h"
#include "network/protocol/FinOption.h"
#include "network/protocol/Packet.h"
#include "network/socket/SocketApiWrapper.h"

namespace {
constexpr int RoundMs = 20;
}

RecorderSim::RecorderSim(RecorderSimConfig config)
    : _config(std::move(config)), _loop(*this), _received(65536, 0) {}

RecorderSim::~RecorderSim() {
    stop();
}

void RecorderSim::addHandlerFactory(HandlerFactory factory) {
    _factories.push_back(std::move(factory));
}

void RecorderSim::start() {
    if (_started) {
        return;
    }
    _listener.open();
    _listener.setReuseAddress(true);
    _listener.bind(SocketAddress(_config.host.c_str(), _config.port), 256);
    _port.store(_listener.localAddress().port());
    SocketApiWrapper::createSocketPair(_wake);
    _started = true;
    _loop.start();
}

void RecorderSim::stop() {
    if (!_started) {
        return;
    }
    _loop.stop();
    post([] {});
    _loop.join();
    _listener.close();
    for (int& fd : _wake) {
        SocketApiWrapper::closeSocket(fd);
        fd = -1;
    }
    _started = false;
}

void RecorderSim::post(std::function<void()> command) {
    {
        std::lock_guard<std::mutex> guard(_mutex);
        _commands.push_back(std::move(command));
    }
    char byte = 'X';
    try {
        SocketApiWrapper::send(_wake[1], &byte, 1);
    } catch (const Exception&) {
    }
}

void RecorderSim::sendToAll(uint16_t type, const std::vector<uint8_t>& payload) {
    post([this, type, payload] {
        for (auto& connection : _live) {
            if (connection->loggedIn && !connection->silent) {
                Packet packet;
                packet.begin(type);
                packet.put(payload.data(), static_cast<int>(payload.size()));
                packet.finish(true);
                connection->send(packet);
            }
        }
    });
}

void RecorderSim::sendAliveCheckToAll(bool isReply) {
    sendToAll(PacketType::AliveCheck, {static_cast<uint8_t>(isReply ? 0xFF : 0x00)});
}

void RecorderSim::sendFinToAll(uint8_t kind, const char* text, uint16_t value) {
    Packet payload;
    payload.clear();
    FinOption(kind, text, value).writeTo(payload);
    std::vector<uint8_t> bytes(payload.data(), payload.data() + payload.position());
    sendToAll(PacketType::FinNotice, bytes);
}

void RecorderSim::dropAll() {
    post([this] {
        for (auto& connection : _live) {
            connection->abort();
        }
    });
}

std::vector<uint16_t> RecorderSim::unknownNotices() const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _unknownNotices;
}

int RecorderSim::packetsReceived(uint16_t type) const {
    std::lock_guard<std::mutex> guard(_mutex);
    return _received[type];
}

void RecorderSim::countReceived(uint16_t type) {
    std::lock_guard<std::mutex> guard(_mutex);
    ++_received[type];
}

void RecorderSim::recordUnknownNotice(uint16_t type) {
    std::lock_guard<std::mutex> guard(_mutex);
    _unknownNotices.push_back(type);
}

void RecorderSim::runRound() {
    std::vector<pollfd> fds;
    fds.push_back(pollfd{_wake[0], POLLIN, 0});
    fds.push_back(pollfd{_listener.socket(), POLLIN, 0});
    // A connection with nothing pending but more to stream goes on at once; one whose
    // bytes are still pending waits for the socket to take them.
    int timeoutMs = RoundMs;
    for (auto& connection : _live) {
        short events = POLLIN;
        if (connection->wantsWrite()) {
            events |= POLLOUT;
        } else if (connection->wantsToSend() && !connection->isFinished()) {
            timeoutMs = 0;
        }
        fds.push_back(pollfd{connection->socket(), events, 0});
    }
    int ready = 0;
    try {
        ready = SocketApiWrapper::poll(fds.data(), static_cast<int>(fds.size()), timeoutMs);
    } catch (const Exception&) {
        return;
    }
    if (ready > 0) {
        if ((fds[0].revents & POLLIN) != 0) {
            char bytes[64];
            try {
                while (SocketApiWrapper::recv(_wake[0], bytes, sizeof bytes) > 0) {
                }
            } catch (const Exception&) {
            }
        }
        for (size_t i = 0; i < _live.size(); ++i) {
            short revents = fds[i + 2].revents;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                _live[i]->onReadable();
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            acceptAll();
        }
    }
    runCommands();
    uint32_t now = Clock::current().tickCount();
    for (auto& connection : _live) {
        connection->tick(now);
        connection->onWritable();
    }
    for (size_t i = 0; i < _live.size();) {
        if (_live[i]->isFinished()) {
            _live.erase(_live.begin() + static_cast<long>(i));
            --_connections;
        } else {
            ++i;
        }
    }
}

void RecorderSim::acceptAll() {
    for (;;) {
        int s = -1;
        try {
            s = SocketApiWrapper::accept(_listener.socket(), nullptr);
            if (s == -1) {
                return;
            }
            SocketApiWrapper::configureBlocking(s, false);
        } catch (const Exception&) {
            if (s != -1) {
                SocketApiWrapper::closeSocket(s);
            }
            return;
        }
        auto connection = std::make_unique<RecorderConnection>(*this, s);
        connection->lastSendMs = Clock::current().tickCount();
        connection->addHandler(std::make_unique<SessionHandler>(_config));
        for (auto& factory : _factories) {
            connection->addHandler(factory(*connection));
        }
        _live.push_back(std::move(connection));
        ++_connections;
    }
}

void RecorderSim::runCommands() {
    std::vector<std::function<void()>> commands;
    {
        std::lock_guard<std::mutex> guard(_mutex);
        commands.swap(_commands);
    }
    for (auto& command : commands) {
        command();
    }
}

void RecorderSim::closeAll() {
    _live.clear();
    _connections.store(0);
}
