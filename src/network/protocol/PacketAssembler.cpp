#include "network/protocol/PacketAssembler.h"

#include <algorithm>
#include <cstring>

PacketAssembler::PacketAssembler(uint32_t maxPayloadLength) : _maxPayloadLength(maxPayloadLength) {
    _packet.prepareHeader();
}

size_t PacketAssembler::feed(const void* bytes, size_t length) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    size_t used = 0;
    while (used < length && (_state == State::Header || _state == State::Payload)) {
        int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(wanted()), length - used));
        std::memcpy(receiveWindow(), p + used, static_cast<size_t>(n));
        received(n);
        used += static_cast<size_t>(n);
    }
    return used;
}

uint8_t* PacketAssembler::receiveWindow() { return _packet.current(); }

int PacketAssembler::wanted() const {
    if (_state != State::Header && _state != State::Payload) {
        return 0;
    }
    return _packet.remaining();
}

void PacketAssembler::received(int count) {
    if (count < 0 || count > wanted()) {
        throw ByteBufferException(ByteBufferException::IllegalArgument);
    }
    _packet.setPosition(_packet.position() + count);
    if (_packet.remaining() == 0) {
        partComplete();
    }
}

void PacketAssembler::partComplete() {
    if (_state == State::Header) {
        uint32_t length = _packet.payloadLength();
        if (length > _maxPayloadLength) {
            _state = State::PayloadTooLarge;
            return;
        }
        if (length == 0) {
            _packet.payload();
            _state = State::PacketReady;
            return;
        }
        _packet.preparePayload();
        _state = State::Payload;
        return;
    }
    _packet.payload();
    _state = State::PacketReady;
}

void PacketAssembler::next() {
    _packet.prepareHeader();
    _state = State::Header;
}
