#pragma once

#include <cstdint>

#include "base/SystemException.h"

// A storage device read or write failed. Carries the request that failed, so a log line
// says which file descriptor, where, and how many bytes.
class IOException : public SystemException {
public:
    IOException(const char* file, int line, const char* function, int errorCode, int handle, uint64_t offset,
                uint32_t length);

    int handle() const { return _handle; }
    uint64_t offset() const { return _offset; }
    uint32_t length() const { return _length; }

private:
    int _handle;
    uint64_t _offset;
    uint32_t _length;
};
