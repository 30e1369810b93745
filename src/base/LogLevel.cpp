#include "base/LogLevel.h"

const char* LogLevel::name(int level) {
    switch (level) {
        case Fatal: return "FATAL";
        case Error: return "ERROR";
        case Warn: return "WARN";
        case Info: return "INFO";
        case Debug: return "DEBUG";
        default: return "UNKNOWN";
    }
}
