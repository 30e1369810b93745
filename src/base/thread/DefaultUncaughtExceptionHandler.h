#pragma once

#include "base/thread/IUncaughtExceptionHandler.h"

// Writes the escaped exception to the debug trace output and nothing more: the thread
// ends normally. Stateless, so safe from any thread.
class DefaultUncaughtExceptionHandler : public IUncaughtExceptionHandler {
public:
    void uncaughtException(Thread& thread, Exception& e) override;
    static DefaultUncaughtExceptionHandler& instance();
};
