#pragma once

#include "base/Exception.h"

// A socket call failed. The message is the given text, or else the system's text for the
// socket error code, on one line and cut to 255 characters.
class SocketException : public Exception {
public:
    SocketException(const char* file, int line, const char* function, int errorCode,
                    const char* message = nullptr);

protected:
    SocketException(const char* name, const char* file, int line, const char* function, int errorCode,
                    const char* message);
};

// The message rule shared by the socket exceptions: `message` when given, else the
// system text of `errorCode`; line breaks removed; at most 255 characters.
std::string socketErrorMessage(int errorCode, const char* message);
