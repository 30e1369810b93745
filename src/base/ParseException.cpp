#include "base/ParseException.h"

#include <string>

ParseException::ParseException(const char* file, int line, const char* function, const char* expected,
                               const char* text)
    : Exception("ParseException", file, line, function, 0, nullptr) {
    std::string quoted = text == nullptr ? std::string("(null)") : std::string(text).substr(0, 64);
    setOwnedMessage(std::string("not ") + expected + ": \"" + quoted + "\"");
}
