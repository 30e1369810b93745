#pragma once

#include "network/socket/ServerSocketChannel.h"

// A listener whose socket, and every socket it accepts, never blocks.
class NonBlockingServerSocketChannel : public ServerSocketChannel {
public:
    int createSocket() override;
    bool accept(SocketChannel& channel) override;
};
