#pragma once

#include <cstdint>

#include "base/thread/ISingleton.h"

// The operating system's cryptographically secure random source, for keys, identifiers
// and jitter. Safe from any thread.
class Random : public ISingleton {
public:
    static Random& instance();
    // A 32-bit value. Throws SystemException when the system cannot supply one.
    uint32_t next();
    // Fills `length` bytes. Throws SystemException when the system cannot supply them.
    void fill(void* out, size_t length);

private:
    Random() = default;
};
