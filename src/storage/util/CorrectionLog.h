#pragma once

#include <cstdarg>
#include <cstdio>

#include "storage/Storage.h"

// Writes one line of the correction into the storage log, prefixed "[CORRECTION] ", so
// `tarsil` can show afterwards what an open repaired.
inline void correctionLog(Storage& storage, const char* fmt, va_list args) {
    char text[400];
    std::vsnprintf(text, sizeof text, fmt, args);
    char line[420];
    std::snprintf(line, sizeof line, "[CORRECTION] %s", text);
    storage.log(line, 1, false);
}
