#pragma once

#include "base/Exception.h"

// Stands for a caught object of unknown type. Prints its name only.
class UnknownException : public Exception {
public:
    UnknownException();
    void toString(IFormatable& out) const override;
};
