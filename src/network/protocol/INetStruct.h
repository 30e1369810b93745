#pragma once

class ByteBuffer;

// Anything with a wire form inside a packet payload. readFrom raises ByteBufferException
// when the buffer holds too few bytes; how many bytes writeTo wrote is the change of the
// buffer's position around the call.
class INetStruct {
public:
    virtual ~INetStruct() = default;
    virtual void readFrom(ByteBuffer& buffer) = 0;
    virtual void writeTo(ByteBuffer& buffer) const = 0;
};
