#pragma once

#include <atomic>

#include "base/Exception.h"

// A consistency check of the engine's own invariants failed; the message is the text of
// the condition. Checks run only while `assertionsEnabled` is set (the storage corrector
// sets it for the length of a correction run), so ordinary operation never pays for them.
class AssertionFailException : public Exception {
public:
    AssertionFailException(const char* file, int line, const char* function, const char* condition);
};

// Process-wide switch for QF_ASSERT; starts cleared.
extern std::atomic<bool> assertionsEnabled;

// Sets `assertionsEnabled` for the life of the object and clears it afterwards, also
// when an exception leaves the scope.
class AssertionsEnabledScope {
public:
    AssertionsEnabledScope() { assertionsEnabled.store(true); }
    ~AssertionsEnabledScope() { assertionsEnabled.store(false); }
    AssertionsEnabledScope(const AssertionsEnabledScope&) = delete;
    AssertionsEnabledScope& operator=(const AssertionsEnabledScope&) = delete;
};

#define QF_ASSERT(condition)                                                   \
    do {                                                                       \
        if (assertionsEnabled.load(std::memory_order_relaxed) && !(condition)) \
            throw AssertionFailException(QF_HERE, #condition);                 \
    } while (0)
