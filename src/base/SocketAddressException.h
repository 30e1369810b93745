#pragma once

#include "base/Exception.h"

// A socket address could not be built or used. Same message rule as SocketException.
class SocketAddressException : public Exception {
public:
    SocketAddressException(const char* file, int line, const char* function, int errorCode,
                           const char* message = nullptr);

protected:
    SocketAddressException(const char* name, const char* file, int line, const char* function, int errorCode,
                           const char* message);
};
