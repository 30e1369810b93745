#include "network/protocol/Protocol.h"

#include <cstring>

#include "base/ByteBuffer.h"
#include "base/Trace.h"

namespace {

uint8_t readKind(uint8_t value) {
    return value >= 1 && value <= 3 ? value : 0;
}

}  // namespace

Protocol::Protocol() : _name{0, 0, 0, 0, 0}, _version(0), _acceptsNewer(false), _kindA(0), _kindB(0) {}

Protocol::Protocol(const char name[4], int8_t version, bool acceptsNewer, uint8_t kindA, uint8_t kindB)
    : _name{name[0], name[1], name[2], name[3], 0},
      _version(version),
      _acceptsNewer(acceptsNewer),
      _kindA(kindA),
      _kindB(kindB) {}

void Protocol::readFrom(ByteBuffer& buffer) {
    buffer.get(_name, 4);
    _name[4] = '\0';
    _version = static_cast<int8_t>(buffer.get());
    _acceptsNewer = buffer.getBool();
    _kindA = readKind(buffer.get());
    _kindB = readKind(buffer.get());
}

void Protocol::writeTo(ByteBuffer& buffer) const {
    buffer.put(_name, 4);
    buffer.put(static_cast<uint8_t>(_version));
    buffer.putBool(_acceptsNewer);
    buffer.put(_kindA);
    buffer.put(_kindB);
}

const Protocol& Protocol::local() {
    static const Protocol protocol("KVRZ", 1, false, 1, 1);
    return protocol;
}

bool Protocol::isCompatible(const Protocol& received) const {
    if (std::memcmp(_name, received._name, 4) != 0) {
        QF_TRACE("unknown protocol name = %c%c%c%c\n", received._name[0], received._name[1], received._name[2],
                 received._name[3]);
        return false;
    }
    if (received._version <= _version) {
        return true;
    }
    if (received._acceptsNewer) {
        return true;
    }
    QF_TRACE("uncompatible protocol current = %d, received = %d\n", _version, received._version);
    return false;
}
