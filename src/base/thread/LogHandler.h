#pragma once

#include "base/ILogHandler.h"

// Where log entries go: the handler the application installed, or the DefaultLogHandler.
class LogHandler {
public:
    static ILogHandler& instance();
    // Installs `handler` (not owned, must outlive its use); nullptr restores the default.
    static void install(ILogHandler* handler);
};
