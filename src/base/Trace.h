#pragma once

#include <cstdarg>
#include <functional>
#include <string>

// The debug trace output: printf-style diagnostic lines that nothing depends on.
// Lines are discarded unless tracing is on (QUILLFEN_TRACE=1 in the environment, or
// Trace::setEnabled(true), as the --trace switch does); then they go to stderr, or to a
// sink a test installs. Safe to call from any thread.
class Trace {
public:
    using Sink = std::function<void(const std::string& line)>;

    static bool enabled();
    static void setEnabled(bool enabled);
    // Replaces stderr as the destination (an empty sink restores stderr). Installing a
    // sink also turns tracing on; tests use it to see what a component traced.
    static void setSink(Sink sink);

    __attribute__((format(printf, 1, 2))) static void write(const char* fmt, ...);
    static void vwrite(const char* fmt, va_list args);
};

// Shorthand used at trace points across the code.
#define QF_TRACE(...) ::Trace::write(__VA_ARGS__)
