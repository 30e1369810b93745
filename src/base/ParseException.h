#pragma once

#include "base/Exception.h"

// Text that should hold a value in a fixed form (an identifier, a number) does not. The
// message names what was expected and quotes the text, cut to 64 characters; it is owned.
class ParseException : public Exception {
public:
    ParseException(const char* file, int line, const char* function, const char* expected, const char* text);
};
