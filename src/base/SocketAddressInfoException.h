#pragma once

#include "base/SocketAddressException.h"

// A host name could not be resolved to an address.
class SocketAddressInfoException : public SocketAddressException {
public:
    SocketAddressInfoException(const char* file, int line, const char* function, int errorCode,
                               const char* message = nullptr);
};
