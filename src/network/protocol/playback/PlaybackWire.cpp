#include "network/protocol/playback/PlaybackWire.h"

#include <algorithm>
#include <climits>

void PlaybackWireWriter::zeros(size_t count) {
    for (size_t i = 0; i < count; ++i) _packet.put(uint8_t{0});
}

void PlaybackWireWriter::string(const std::string& v, size_t /*maxKept*/) {
    if (v.size() > 0xFFFF) throw ByteBufferException(ByteBufferException::IllegalArgument);
    _packet.putShort(static_cast<uint16_t>(v.size()));
    if (!v.empty()) _packet.put(v.data(), static_cast<int>(v.size()));
    _packet.put(uint8_t{0});
}

void PlaybackWireWriter::text(const char* v, size_t textCapacity, size_t wireSize) {
    size_t length = v == nullptr ? 0 : strnlen(v, std::min(textCapacity, wireSize));
    if (length > 0) _packet.put(v, static_cast<int>(length));
    zeros(wireSize - length);
}

void PlaybackWireWriter::bytes(const uint8_t* data, uint64_t length) {
    if (length == 0) return;
    if (data == nullptr || length > INT_MAX) throw ByteBufferException(ByteBufferException::IllegalArgument);
    _packet.put(data, static_cast<int>(length));
}

void PlaybackWireReader::string(std::string& v, size_t maxKept) {
    uint16_t length = _packet.getShort();
    // The characters and the terminator must both be present.
    require(uint64_t{length} + 1);
    const char* characters = reinterpret_cast<const char*>(_packet.current());
    v.assign(characters, std::min<size_t>(length, maxKept));
    _packet.skip(length);
    if (_packet.get() != 0) throw ByteBufferException(ByteBufferException::IllegalArgument);
}

void PlaybackWireReader::text(char* v, size_t textCapacity, size_t wireSize) {
    require(wireSize);
    size_t kept = std::min(wireSize, textCapacity - 1);
    _packet.get(v, static_cast<int>(kept));
    std::fill(v + kept, v + textCapacity, '\0');
    _packet.skip(static_cast<int>(wireSize - kept));
}

void PlaybackWireReader::bytes(const uint8_t*& data, uint64_t length) {
    // A frame announcing more data than its packet carries must not be pointed at.
    require(length);
    data = _packet.current();
    _packet.skip(static_cast<int>(length));
}
