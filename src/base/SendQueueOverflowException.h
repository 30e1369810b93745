#pragma once

#include "base/Exception.h"

// A packet did not fit into a session's send queue.
class SendQueueOverflowException : public Exception {
public:
    SendQueueOverflowException(const char* file, int line, const char* function, int errorCode = 0, const char* message = nullptr);
};
