#include "base/thread/DefaultUncaughtExceptionHandler.h"

#include "base/Exception.h"
#include "base/Trace.h"
#include "base/thread/Thread.h"

void DefaultUncaughtExceptionHandler::uncaughtException(Thread& thread, Exception& e) {
    QF_TRACE("Exception in thread \"%s\"(ID=%u) %s: %s\tat %s(%s:%d)\n", thread.printableName(), thread.id(),
             e.name(), messageOf(e), e.function(), e.file(), e.line());
}

DefaultUncaughtExceptionHandler& DefaultUncaughtExceptionHandler::instance() {
    static DefaultUncaughtExceptionHandler handler;
    return handler;
}
