#include "network/protocol/playback/MediaFrame.h"

#include "base/Buffer.h"
#include "network/protocol/playback/PlaybackLayout.h"

void MediaFrame::readFrom(Buffer& buffer) {
    mediaType = buffer.getShort();
    syncIndex = buffer.getShort();
    syncKeyID = buffer.getInt();
    channelMask = BitMask32(buffer.getInt());
    dataLength = buffer.getInt();
    mediaID = buffer.getLong();
    time.readFrom(buffer);
    flag1 = buffer.getShort();
    flag0 = buffer.getShort();
    param32 = buffer.getInt();
    param64 = buffer.getLong();
    linkedChannelMask = BitMask32(buffer.getInt());
    extraLength = buffer.getInt();
    buffer.skip(PlaybackLayout::FrameHeaderReserved);
}

void MediaFrame::writeTo(Buffer& buffer) const {
    buffer.putShort(mediaType);
    buffer.putShort(syncIndex);
    buffer.putInt(syncKeyID);
    buffer.putInt(channelMask.value());
    buffer.putInt(dataLength);
    buffer.putLong(mediaID);
    time.writeTo(buffer);
    buffer.putShort(flag1);
    buffer.putShort(flag0);
    buffer.putInt(param32);
    buffer.putLong(param64);
    buffer.putInt(linkedChannelMask.value());
    buffer.putInt(extraLength);
    buffer.fill(0, PlaybackLayout::FrameHeaderReserved);
}
