#pragma once

// A text target written by one printf-style call. Every value's toString, log line and
// SQL text is produced through it, so the caller decides how much room the text gets.
class IFormatable {
public:
    virtual ~IFormatable() = default;
    // Replaces the text with the formatted one (truncated to the target's room).
    __attribute__((format(printf, 2, 3))) virtual bool format(const char* fmt, ...) = 0;
    virtual const char* c_str() const = 0;
};
