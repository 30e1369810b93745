#include "base/SocketAddressInfoException.h"

SocketAddressInfoException::SocketAddressInfoException(const char* file, int line, const char* function,
                                                       int errorCode, const char* message)
    : SocketAddressException("SocketAddressInfoException", file, line, function, errorCode, message) {}
