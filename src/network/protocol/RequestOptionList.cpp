#include "network/protocol/RequestOptionList.h"

#include "base/ByteBuffer.h"

void RequestOptionList::readFrom(ByteBuffer& buffer) {
    _ids.clear();
    int n = buffer.get();
    for (int i = 0; i < n; ++i) {
        _ids.push_back(buffer.get());
    }
}

void RequestOptionList::writeTo(ByteBuffer& buffer) const {
    buffer.put(static_cast<uint8_t>(_ids.size()));
    for (uint8_t optionId : _ids) {
        buffer.put(optionId);
    }
}

void RequestOptionList::add(uint8_t optionId) {
    if (_ids.size() < 255) {
        _ids.push_back(optionId);
    }
}
