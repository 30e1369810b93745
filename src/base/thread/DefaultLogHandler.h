#pragma once

#include "base/ILogHandler.h"

// Writes each entry as one line to the debug trace output, naming the calling thread:
//   [LEVEL] Log in thread "name"(ID=n): message<TAB>at location
// A FATAL entry then aborts the process (and is also written to stderr when tracing is
// off, so the reason for the abort is never lost). Stateless, so safe from any thread.
class DefaultLogHandler : public ILogHandler {
public:
    void log(int level, const char* message, const char* location) override;
    static DefaultLogHandler& instance();
};
