#pragma once

#include "base/DateTime.h"
#include "base/IEquatable.h"
#include "base/IStringConvertable.h"

// A span of time from one DateTime to another. The default interval has both ends
// DateTime::INVALID and stands for "no interval". Message and record formats write the
// two ends one after the other; the interval itself has no binary form. A plain value.
class Interval : public IEquatable<Interval>, public IStringConvertable {
public:
    Interval() = default;
    Interval(const DateTime& from, const DateTime& to) : _from(from), _to(to) {}
    // The instant `at`: both ends equal.
    explicit Interval(const DateTime& at) : _from(at), _to(at) {}

    const DateTime& from() const { return _from; }
    const DateTime& to() const { return _to; }

    bool equals(const Interval& other) const override { return _from.equals(other._from) && _to.equals(other._to); }

    // "[2009/03/01 23:00:00, 2009/03/02 01:00:00]"
    void toString(IFormatable& out) const override;

private:
    DateTime _from;
    DateTime _to;
};
