#include "network/playback/TextInRecord.h"

#include <cstring>

#include "base/Buffer.h"

namespace {
constexpr int TextSize = static_cast<int>(sizeof(TextInFrame::text));
}

void TextInRecord::write(Buffer& buffer, const TextInFrame& frame) {
    buffer.putShort(frame.mediaType);
    buffer.putShort(frame.syncIndex);
    buffer.putInt(frame.syncKeyID);
    buffer.putInt(frame.channelMask.value());
    buffer.fill(0, 4);
    buffer.putLong(frame.mediaID);
    frame.time.writeTo(buffer);
    buffer.fill(0, 8 + 8);
    buffer.putInt(frame.linkedChannelMask.value());
    buffer.putInt(frame.sectionID);
    buffer.putInt(frame.flags);
    buffer.put(frame.text, TextSize);
    buffer.fill(0, 4);
}

void TextInRecord::read(Buffer& buffer, TextInFrame& frame) {
    frame.mediaType = buffer.getShort();
    frame.syncIndex = buffer.getShort();
    frame.syncKeyID = buffer.getInt();
    frame.channelMask = BitMask32(buffer.getInt());
    buffer.skip(4);
    frame.mediaID = buffer.getLong();
    frame.time.readFrom(buffer);
    buffer.skip(8 + 8);
    frame.linkedChannelMask = BitMask32(buffer.getInt());
    frame.sectionID = buffer.getInt();
    frame.flags = buffer.getInt();
    std::memcpy(frame.text, buffer.read(TextSize), TextSize);
    frame.text[TextSize - 1] = '\0';
    buffer.skip(4);
}
