#pragma once

#include <string>

#include "base/FormatableBuffer.h"
#include "base/IStringConvertable.h"

// The text of a value as a string, for places that keep or compare it (log entries,
// messages, tests). Texts longer than 2047 characters are cut.
inline std::string textOf(const IStringConvertable& value) {
    FormatableBuffer<2048> text;
    value.toString(text);
    return text.c_str();
}
