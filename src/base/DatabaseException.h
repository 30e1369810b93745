#pragma once

#include "base/Exception.h"

// A configuration database error; errorCode is the database engine's result code. The message is copied, since the engine reuses its text.
class DatabaseException : public Exception {
public:
    DatabaseException(const char* file, int line, const char* function, int errorCode = 0, const char* message = nullptr);
};
