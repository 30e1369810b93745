#pragma once

#include "base/IEquatable.h"

// A value with a total order. Each value class implements `equals`, `lessThan` and
// `greaterThan`; the other relations are derived from them here, as are the operators,
// so values can be sorted and used as keys of ordered containers.
template <typename T>
class IComparable : public IEquatable<T> {
public:
    virtual bool lessThan(const T& other) const = 0;
    virtual bool greaterThan(const T& other) const = 0;
    virtual bool lessOrEqual(const T& other) const { return lessThan(other) || this->equals(other); }
    virtual bool greaterOrEqual(const T& other) const { return greaterThan(other) || this->equals(other); }

    friend bool operator<(const T& a, const T& b) { return a.lessThan(b); }
    friend bool operator>(const T& a, const T& b) { return a.greaterThan(b); }
    friend bool operator<=(const T& a, const T& b) { return a.lessOrEqual(b); }
    friend bool operator>=(const T& a, const T& b) { return a.greaterOrEqual(b); }
};
