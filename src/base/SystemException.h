#pragma once

#include "base/Exception.h"

// An operating-system call failed. The message is the system's text for the error code
// (strerror), so the person reading the log sees what the system said.
class SystemException : public Exception {
public:
    // Takes the code from errno.
    SystemException(const char* file, int line, const char* function);
    SystemException(const char* file, int line, const char* function, int errorCode);

protected:
    SystemException(const char* name, const char* file, int line, const char* function, int errorCode);
};

// The system's text for an error number.
std::string systemErrorText(int errorCode);
