#pragma once

#include <exception>

#include "base/Exception.h"

// A standard-library exception caught where an Exception was expected (a thread body,
// a callback), wrapped so that it travels the same road. Prints as "<name>: <what>".
class StandardException : public Exception {
public:
    explicit StandardException(const std::exception& e);
    void toString(IFormatable& out) const override;
};
