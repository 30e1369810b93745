#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "IRecorderPacketHandler.h"
#include "network/protocol/PacketAssembler.h"

class RecorderSim;
class Packet;

// One client connection of the simulated recorder: its socket, the stream decoder, the
// bytes waiting to be written and the service handlers. Lives on the simulator's loop
// thread only.
class RecorderConnection {
public:
    RecorderConnection(RecorderSim& sim, int socket);
    ~RecorderConnection();
    RecorderConnection(const RecorderConnection&) = delete;
    RecorderConnection& operator=(const RecorderConnection&) = delete;

    void addHandler(std::unique_ptr<IRecorderPacketHandler> handler);

    // Reads what arrived and answers every complete packet.
    void onReadable();
    // Writes what the socket takes.
    void onWritable();
    void tick(uint32_t nowMs);

    // Queues a finished packet (bytes 0..limit) or raw bytes.
    void send(Packet& packet);
    void sendRaw(const void* bytes, int length);
    // Writes what is queued, then closes.
    void closeAfterFlush() { _closing = true; }
    // Closes at once, dropping whatever is queued.
    void abort() { _closed = true; }

    // A handler has more to send as soon as the pending bytes are written.
    bool wantsToSend() const;
    int socket() const { return _socket; }
    bool wantsWrite() const { return !_output.empty(); }
    bool isFinished() const { return _closed || (_closing && _output.empty()); }
    RecorderSim& sim() { return _sim; }

    // Set by the session handler once the client has logged in.
    bool loggedIn = false;
    // Set when the simulator plays dead on this connection: nothing is answered any more.
    bool silent = false;
    // Tick of the last byte queued for sending.
    uint32_t lastSendMs = 0;

private:
    void dispatch(Packet& packet);

    RecorderSim& _sim;
    int _socket;
    PacketAssembler _assembler;
    std::vector<uint8_t> _output;
    std::vector<std::unique_ptr<IRecorderPacketHandler>> _handlers;
    bool _closing = false;
    bool _closed = false;
};
