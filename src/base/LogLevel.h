#pragma once

// Severity of a log entry. Levels are plain ints so that they pass through any log
// handler unchanged; a lower value is more severe. A FATAL entry ends the process
// once it has been written.
class LogLevel {
public:
    static constexpr int Fatal = 0;
    static constexpr int Error = 1;
    static constexpr int Warn = 2;
    static constexpr int Info = 3;
    static constexpr int Debug = 4;

    // "FATAL", "ERROR", "WARN", "INFO", "DEBUG"; "UNKNOWN" for any other value.
    static const char* name(int level);
};
