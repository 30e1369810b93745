#pragma once

#include <cstdarg>

#include "base/IFormatable.h"

// SQL text built with the database engine's own printf-style formatter, which knows the
// SQL quoting conversions: "%q" doubles every single quote of its argument (write the
// surrounding quotes in the format: "name = '%q'"), "%Q" also adds the quotes and turns a
// null pointer into NULL. Every text that came from a user or a peer goes into SQL this
// way, never through plain "%s". The text is allocated by the engine and has no length
// limit. Not shared between threads.
class FormatableSQL : public IFormatable {
public:
    FormatableSQL();
    // Formats at once; a text the engine could not allocate leaves the object empty.
    explicit FormatableSQL(const char* fmt, ...);
    ~FormatableSQL() override;
    FormatableSQL(const FormatableSQL&) = delete;
    FormatableSQL& operator=(const FormatableSQL&) = delete;

    // Replaces the text; the previous one is released first. False when the engine could
    // not allocate the new text (the object is then empty).
    bool format(const char* fmt, ...) override;
    // Never null: "" when empty.
    const char* c_str() const override;

private:
    bool vformat(const char* fmt, va_list args);
    void release();

    char* _text = nullptr;
};
