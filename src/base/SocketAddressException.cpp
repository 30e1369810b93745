#include "base/SocketAddressException.h"

#include "base/SocketException.h"

SocketAddressException::SocketAddressException(const char* file, int line, const char* function, int errorCode,
                                               const char* message)
    : SocketAddressException("SocketAddressException", file, line, function, errorCode, message) {}

SocketAddressException::SocketAddressException(const char* name, const char* file, int line,
                                               const char* function, int errorCode, const char* message)
    : Exception(name, file, line, function, errorCode, nullptr) {
    setOwnedMessage(socketErrorMessage(errorCode, message));
}
