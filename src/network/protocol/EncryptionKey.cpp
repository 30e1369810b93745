#include "network/protocol/EncryptionKey.h"

#include "base/ByteBuffer.h"

void EncryptionKey::readFrom(ByteBuffer& buffer) {
    buffer.get(_bytes.data(), 4);
}

void EncryptionKey::writeTo(ByteBuffer& buffer) const {
    buffer.put(_bytes.data(), 4);
}
