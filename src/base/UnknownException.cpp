#include "base/UnknownException.h"

#include "base/IFormatable.h"

UnknownException::UnknownException()
    : Exception("UnknownException", "unknown_file", 0, "unknown_function", 0, "unknown_message") {}

void UnknownException::toString(IFormatable& out) const {
    out.format("%s", name());
}
