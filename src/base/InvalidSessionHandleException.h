#pragma once

#include "base/Exception.h"

// A session handle that names no live session was used.
class InvalidSessionHandleException : public Exception {
public:
    InvalidSessionHandleException(const char* file, int line, const char* function, int errorCode = 0, const char* message = nullptr);
};
