#include "base/thread/DefaultLogHandler.h"

#include <cstdio>
#include <cstdlib>

#include "base/FormatableBuffer.h"
#include "base/LogLevel.h"
#include "base/Trace.h"
#include "base/thread/Thread.h"

void DefaultLogHandler::log(int level, const char* message, const char* location) {
    Thread& thread = Thread::currentThread();
    FormatableBuffer<2048> line;
    line.format("[%s] Log in thread \"%s\"(ID=%u): %s\tat %s\n", LogLevel::name(level), thread.printableName(),
                thread.id(), message != nullptr ? message : "", location != nullptr ? location : "");
    QF_TRACE("%s", line.c_str());
    if (level == LogLevel::Fatal) {
        if (!Trace::enabled()) {
            std::fputs(line.c_str(), stderr);
        }
        std::abort();
    }
}

DefaultLogHandler& DefaultLogHandler::instance() {
    static DefaultLogHandler handler;
    return handler;
}
