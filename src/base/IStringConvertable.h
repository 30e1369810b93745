#pragma once

class IFormatable;

// A value that can print itself with one printf-style call of the target.
class IStringConvertable {
public:
    virtual ~IStringConvertable() = default;
    virtual void toString(IFormatable& out) const = 0;
};
