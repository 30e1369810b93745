#include "database/FormatableSQL.h"

#include <sqlite3.h>

#include <cstdarg>

FormatableSQL::FormatableSQL() = default;

FormatableSQL::FormatableSQL(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vformat(fmt, args);
    va_end(args);
}

FormatableSQL::~FormatableSQL() {
    release();
}

bool FormatableSQL::format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    bool formatted = vformat(fmt, args);
    va_end(args);
    return formatted;
}

const char* FormatableSQL::c_str() const {
    return _text != nullptr ? _text : "";
}

bool FormatableSQL::vformat(const char* fmt, va_list args) {
    release();
    _text = sqlite3_vmprintf(fmt, args);
    return _text != nullptr;
}

void FormatableSQL::release() {
    sqlite3_free(_text);
    _text = nullptr;
}
