#include "base/Exception.h"

#include "base/FormatableBuffer.h"

Exception::Exception(const char* name, const char* file, int line, const char* function, int errorCode,
                     const char* message)
    : _name(name), _file(file), _line(line), _function(function), _errorCode(errorCode), _message(message) {}

void Exception::toString(IFormatable& out) const {
    out.format("%s: %s\tat %s(%s:%d)", _name, messageOf(*this), _function, _file, _line);
}

const char* Exception::message() const {
    return _ownsMessage ? _ownedMessage.c_str() : _message;
}

std::string Exception::describe() const {
    FormatableBuffer<2048> text;
    toString(text);
    return text.c_str();
}

void Exception::setOwnedMessage(std::string text) {
    _ownedMessage = std::move(text);
    _ownsMessage = true;
}
