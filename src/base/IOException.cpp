#include "base/IOException.h"

IOException::IOException(const char* file, int line, const char* function, int errorCode, int handle,
                         uint64_t offset, uint32_t length)
    : SystemException("IOException", file, line, function, errorCode),
      _handle(handle),
      _offset(offset),
      _length(length) {}
