#include "network/protocol/RemoteSystemInfo.h"

#include "network/protocol/ProductInfo.h"
#include "network/protocol/WireText.h"

RemoteSystemInfo::RemoteSystemInfo() {
    clear();
}

void RemoteSystemInfo::clear() {
    hardwareAddress.fill(0);
    systemKind = 0;
    VideoInNum = AudioInNum = AudioOutNum = AlarmNum = SensorNum = 0;
    _systemName[0] = '\0';
}

void RemoteSystemInfo::fillDefaults(uint32_t modelCode) {
    clear();
    systemKind = 3;
    if (modelCode == ProductInfo::SmallModelCode) {
        VideoInNum = 4;
        AudioInNum = 1;
        AudioOutNum = 1;
        AlarmNum = 4;
        SensorNum = 2;
    } else {
        VideoInNum = AudioInNum = AudioOutNum = AlarmNum = SensorNum = 16;
    }
}

void RemoteSystemInfo::setSystemName(const char* name) {
    WireText::assign(_systemName, NameSize, name);
}

void RemoteSystemInfo::readFrom(ByteBuffer& buffer) {
    buffer.get(hardwareAddress.data(), 6);
    uint8_t kind = buffer.get();
    systemKind = kind >= 1 && kind <= 3 ? kind : 0;
    VideoInNum = buffer.get();
    AudioInNum = buffer.get();
    AudioOutNum = buffer.get();
    AlarmNum = buffer.get();
    SensorNum = buffer.get();
    buffer.getString(_systemName, NameSize);
}

void RemoteSystemInfo::writeTo(ByteBuffer& buffer) const {
    buffer.put(hardwareAddress.data(), 6);
    buffer.put(systemKind);
    buffer.put(VideoInNum);
    buffer.put(AudioInNum);
    buffer.put(AudioOutNum);
    buffer.put(AlarmNum);
    buffer.put(SensorNum);
    buffer.putString(_systemName);
}

int RemoteSystemInfo::length() const {
    return 12 + WireText::wireLength(_systemName);
}
