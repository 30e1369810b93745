#include "base/SocketException.h"

#include "base/SystemException.h"

std::string socketErrorMessage(int errorCode, const char* message) {
    std::string text = message != nullptr ? std::string(message) : systemErrorText(errorCode);
    std::string oneLine;
    oneLine.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') {
            oneLine.push_back(c);
        }
    }
    if (oneLine.size() > 255) {
        oneLine.resize(255);
    }
    return oneLine;
}

SocketException::SocketException(const char* file, int line, const char* function, int errorCode,
                                 const char* message)
    : SocketException("SocketException", file, line, function, errorCode, message) {}

SocketException::SocketException(const char* name, const char* file, int line, const char* function,
                                 int errorCode, const char* message)
    : Exception(name, file, line, function, errorCode, nullptr) {
    setOwnedMessage(socketErrorMessage(errorCode, message));
}
