#pragma once

#include "base/Exception.h"

// A storage engine error; errorCode is the engine's own code (4: storage corrupted). The message is copied.
class TarsilException : public Exception {
public:
    TarsilException(const char* file, int line, const char* function, int errorCode = 0, const char* message = nullptr);
};
