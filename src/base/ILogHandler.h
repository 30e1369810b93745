#pragma once

// Receives log entries: a level (LogLevel), the message and where it was logged from
// (may be null). The process-wide handler is reached through LogHandler::instance();
// implementations are called from any thread and must be safe for that.
class ILogHandler {
public:
    virtual ~ILogHandler() = default;
    virtual void log(int level, const char* message, const char* location) = 0;
};
