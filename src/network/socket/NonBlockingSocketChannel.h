#pragma once

#include "network/socket/SocketChannel.h"

// The dispatcher's connection channel: its socket never blocks, and a connect that cannot
// finish at once is reported as in progress so the worker can wait for writability.
class NonBlockingSocketChannel : public SocketChannel {
public:
    int createSocket() override;
    // True when connected at once, false while in progress; throws SocketException when the
    // connect fails outright.
    bool implConnect(int s, const sockaddr_in& address) override;
};
