#pragma once

#include <cstdio>
#include <cstdlib>

// A property a fuzz target checks on what the code under test produced. A failure prints
// the condition and aborts, so libFuzzer keeps the input as a crash.
[[noreturn]] inline void fuzzCheckFailed(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, condition);
    std::abort();
}

#define QF_FUZZ_CHECK(condition)                                           \
    do {                                                                   \
        if (!(condition)) fuzzCheckFailed(__FILE__, __LINE__, #condition); \
    } while (0)
