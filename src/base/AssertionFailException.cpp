#include "base/AssertionFailException.h"

std::atomic<bool> assertionsEnabled{false};

AssertionFailException::AssertionFailException(const char* file, int line, const char* function,
                                               const char* condition)
    : Exception("AssertionFailException", file, line, function, 0, condition) {}
