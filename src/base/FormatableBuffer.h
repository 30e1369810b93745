#pragma once

#include <cstdarg>
#include <cstdio>

#include "base/IFormatable.h"

// A fixed-capacity text buffer of N characters (the terminating NUL included) filled by
// printf-style calls. Text that does not fit is cut, never overflowed; a call that had
// to cut (or found no room at all) reports false.
template <int N>
class FormatableBuffer : public IFormatable {
    static_assert(N > 1, "a formatable buffer needs room for at least one character");

public:
    FormatableBuffer() { _text[0] = '\0'; }

    __attribute__((format(printf, 2, 3))) bool format(const char* fmt, ...) override {
        _length = 0;
        _text[0] = '\0';
        va_list args;
        va_start(args, fmt);
        bool complete = vappend(fmt, args);
        va_end(args);
        return complete;
    }

    __attribute__((format(printf, 2, 3))) bool append(const char* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        bool complete = vappend(fmt, args);
        va_end(args);
        return complete;
    }

    // Appends after the characters already held. With one character of room or less
    // nothing is written; on truncation the buffer counts as full (length N).
    bool vappend(const char* fmt, va_list args) {
        int room = N - _length;
        if (room <= 1) {
            return false;
        }
        int wanted = std::vsnprintf(_text + _length, static_cast<size_t>(room), fmt, args);
        if (wanted < 0) {
            _text[_length] = '\0';
            return false;
        }
        if (wanted >= room) {
            _length = N;
            return false;
        }
        _length += wanted;
        return true;
    }

    const char* c_str() const override { return _text; }
    // Characters used; N after a truncation (the last one is then the terminator).
    int length() const { return _length; }
    static constexpr int capacity() { return N; }

private:
    int _length = 0;
    char _text[N];
};
