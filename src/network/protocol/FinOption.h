#pragma once

#include <cstdint>

#include "network/protocol/INetStruct.h"

// The payload of a fin notice, with which a recorder announces that it ends the session:
// u8 kind, string text (kept to 15 characters), u16 value.
class FinOption : public INetStruct {
public:
    static constexpr int TextSize = 16;

    FinOption();
    FinOption(uint8_t kind, const char* text, uint16_t value);
    void readFrom(ByteBuffer& buffer) override;
    void writeTo(ByteBuffer& buffer) const override;

    uint8_t kind() const { return _kind; }
    const char* text() const { return _text; }
    uint16_t value() const { return _value; }

private:
    uint8_t _kind;
    char _text[TextSize];
    uint16_t _value;
};
