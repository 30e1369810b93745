#pragma once

#include <exception>

// A checked buffer operation could not be carried out. Not part of the Exception family:
// packet parsers catch it to treat a malformed packet as not handled. The reason numbers
// are fixed.
class ByteBufferException : public std::exception {
public:
    enum Reason : int {
        Overflow = 0,         // a put found too little room
        Underflow = 1,        // a get found too few bytes
        IllegalArgument = 2,  // bad position, limit, capacity, growth or string
        IndexOutOfBounds = 3, // negative offset or length, absolute index outside the data
        InvalidMark = 4,      // reset() with no mark set
        OutOfMemory = 5,      // storage could not be allocated
    };

    explicit ByteBufferException(int reason) : _reason(reason) {}
    int reason() const { return _reason; }
    const char* what() const noexcept override;

private:
    int _reason;
};
