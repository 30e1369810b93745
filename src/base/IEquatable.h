#pragma once

// A value that can tell whether it equals another of its kind. `==` and `!=` work on
// every such value and forward to `equals`.
template <typename T>
class IEquatable {
public:
    virtual ~IEquatable() = default;
    virtual bool equals(const T& other) const = 0;
    virtual bool notEquals(const T& other) const { return !equals(other); }

    friend bool operator==(const T& a, const T& b) { return a.equals(b); }
};
