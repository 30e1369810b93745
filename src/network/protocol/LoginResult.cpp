#include "network/protocol/LoginResult.h"

#include "base/ByteBuffer.h"

void LoginResult::readFrom(ByteBuffer& buffer) {
    uint8_t raw = buffer.get();
    code = raw >= 1 && raw <= 5 ? raw : 0;
    value = buffer.getInt();
    extra = buffer.remaining() >= 4 ? static_cast<int64_t>(buffer.getInt()) : -1;
}

void LoginResult::writeTo(ByteBuffer& buffer) const {
    buffer.put(static_cast<uint8_t>(code));
    buffer.putInt(value);
    if (extra >= 0) {
        buffer.putInt(static_cast<uint32_t>(extra));
    }
}

void LoginResult::clear() {
    code = 0;
    value = 0;
    extra = -1;
}
