#pragma once

#include "storage/IRecordable.h"

// One key/value entry of the info track: 32 bytes of key, 32 of value, each text
// NUL-terminated (at most 31 characters kept).
class InfoElement : public IRecordable {
public:
    static constexpr int RecordSize = 64;
    static constexpr int TextCapacity = 32;

    void readFrom(Buffer& buffer, int position) override;
    using IRecordable::readFrom;
    void writeTo(Buffer& buffer, int position) const override;
    using IRecordable::writeTo;
    int headerSize() const override { return RecordSize; }
    BitMask32 channelMask() const override { return BitMask32(); }
    uint64_t mediaID() const override { return 0; }
    bool countsInPageMask() const override { return false; }

    const char* key() const { return _key; }
    const char* value() const { return _value; }
    void setKey(const char* key);
    void setValue(const char* value);

private:
    char _key[TextCapacity] = {};
    char _value[TextCapacity] = {};
};
