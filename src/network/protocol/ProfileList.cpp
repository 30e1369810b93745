#include "network/protocol/ProfileList.h"

#include "base/ByteBuffer.h"

void ProfileList::readFrom(ByteBuffer& buffer) {
    _entries.clear();
    int n = buffer.get();
    for (int i = 0; i < n; ++i) {
        Entry entry;
        uint8_t type = buffer.get();
        entry.type = type >= 1 && type <= 3 ? type : 0;
        entry.value = buffer.get();
        entry.flag = buffer.getBool();
        _entries.push_back(entry);
    }
}

void ProfileList::writeTo(ByteBuffer& buffer) const {
    buffer.put(static_cast<uint8_t>(_entries.size()));
    for (const Entry& entry : _entries) {
        buffer.put(entry.type);
        buffer.put(entry.value);
        buffer.putBool(entry.flag);
    }
}

bool ProfileList::contains(uint8_t profileType) const {
    for (const Entry& entry : _entries) {
        if (entry.type == profileType) {
            return true;
        }
    }
    return false;
}

void ProfileList::add(uint8_t type, uint8_t value, bool flag) {
    if (_entries.size() < 255) {
        _entries.push_back(Entry{type, value, flag});
    }
}
