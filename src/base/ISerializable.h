#pragma once

class Buffer;

// A value with a fixed binary form that storage pages and element records hold. Every
// multi-byte integer goes through the buffer's byte order; the absolute forms leave the
// buffer's cursor where it was, the relative forms advance it past the value.
class ISerializable {
public:
    virtual ~ISerializable() = default;
    virtual int serializedSize() const = 0;
    virtual void readFrom(Buffer& buffer, int position) = 0;
    virtual void readFrom(Buffer& buffer) = 0;
    virtual void writeTo(Buffer& buffer, int position) const = 0;
    virtual void writeTo(Buffer& buffer) const = 0;
};
