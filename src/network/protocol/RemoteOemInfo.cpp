#include "network/protocol/RemoteOemInfo.h"

#include "network/protocol/WireText.h"

RemoteOemInfo::RemoteOemInfo() {
    clear();
}

void RemoteOemInfo::set(bool oem, const char* name) {
    _oem = oem;
    WireText::assign(_oemName, NameSize, name);
}

void RemoteOemInfo::readFrom(ByteBuffer& buffer) {
    _oem = buffer.getInt() == 1;
    buffer.getString(_oemName, NameSize);
}

void RemoteOemInfo::writeTo(ByteBuffer& buffer) const {
    buffer.putInt(_oem ? 1 : 0);
    buffer.putString(_oemName);
}

int RemoteOemInfo::length() const {
    return 4 + WireText::wireLength(_oemName);
}
