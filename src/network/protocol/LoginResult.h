#pragma once

#include <cstdint>

class ByteBuffer;

// The recorder's answer to a login request: u8 code (1 success, 2-5 refusals, anything else
// reads as 0), u32 value, and an optional u32 extra (-1 when the answer is shorter).
class LoginResult {
public:
    static constexpr int Success = 1;

    void readFrom(ByteBuffer& buffer);
    void writeTo(ByteBuffer& buffer) const;
    void clear();

    bool succeeded() const { return code == Success; }

    int code = 0;
    uint32_t value = 0;
    int64_t extra = -1;
};
