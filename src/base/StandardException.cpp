#include "base/StandardException.h"

#include "base/IFormatable.h"

StandardException::StandardException(const std::exception& e)
    : Exception("UnknownException", "unknown_file", 0, "unknown_function", 0, nullptr) {
    setOwnedMessage(e.what());
}

void StandardException::toString(IFormatable& out) const {
    out.format("%s: %s", name(), messageOf(*this));
}
