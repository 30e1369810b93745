#include "storage/PagePosition.h"

#include "base/Buffer.h"

void PagePosition::readFrom(Buffer& buffer, int position) {
    number = buffer.getIntAt(position);
    offset = buffer.getIntAt(position + 4);
}

void PagePosition::writeTo(Buffer& buffer, int position) const {
    buffer.putIntAt(position, number);
    buffer.putIntAt(position + 4, offset);
}
