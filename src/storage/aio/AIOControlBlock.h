#pragma once

#include <cstdint>

// One device transfer: which descriptor, which direction, where in memory and in the
// file, and how many bytes.
struct AIOControlBlock {
    enum Operation : int {
        None = 0,
        Read = 1,
        Write = 2,
    };

    int handle = -1;
    int operation = None;
    void* buffer = nullptr;
    uint64_t offset = ~uint64_t(0);
    uint32_t length = 0;
};
