#pragma once

#include <cstdint>

class Packet;
class RecorderConnection;

// One service of the simulated recorder on one connection (the session upkeep, playback,
// ...). The connection offers each received packet to its handlers in order until one takes
// it; a packet nobody takes is answered with the unknown-type notice. Handlers run on the
// simulator's loop thread only.
class IRecorderPacketHandler {
public:
    virtual ~IRecorderPacketHandler() = default;
    // True when the packet was this handler's to answer.
    virtual bool handle(RecorderConnection& connection, Packet& packet) = 0;
    // Whether the handler has more to send at once when the connection has room (a stream
    // in progress): the loop then does not wait for a round's time-out before the next tick.
    virtual bool wantsToSend() const { return false; }
    // Called every loop round with the tick count in milliseconds (timers, streaming).
    virtual void tick(RecorderConnection& connection, uint32_t nowMs) {
        (void)connection;
        (void)nowMs;
    }
};
