#include "network/protocol/SyncOptionList.h"

#include "base/ByteBuffer.h"
#include "network/protocol/ISyncOption.h"

bool SyncOptionList::add(const ISyncOption& option) {
    if (count() >= MaxOptions) {
        return false;
    }
    _options.push_back(&option);
    return true;
}

void SyncOptionList::writeTo(ByteBuffer& buffer) const {
    for (const ISyncOption* option : _options) {
        buffer.put(option->id());
        buffer.putShort(static_cast<uint16_t>(option->length()));
        option->writeTo(buffer);
    }
}

void SyncOptionList::readFrom(ByteBuffer& buffer) {
    buffer.setPosition(buffer.limit());
}
