#include "network/protocol/FinOption.h"

#include "network/protocol/WireText.h"

FinOption::FinOption() : FinOption(0, "", 0) {}

FinOption::FinOption(uint8_t kind, const char* text, uint16_t value) : _kind(kind), _value(value) {
    WireText::assign(_text, TextSize, text);
}

void FinOption::readFrom(ByteBuffer& buffer) {
    _kind = buffer.get();
    buffer.getString(_text, TextSize);
    _value = buffer.getShort();
}

void FinOption::writeTo(ByteBuffer& buffer) const {
    buffer.put(_kind);
    buffer.putString(_text);
    buffer.putShort(_value);
}
