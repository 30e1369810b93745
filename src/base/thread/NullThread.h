#pragma once

#include "base/thread/Thread.h"

// Stands for the calling thread when it was not started through Thread (the main thread,
// threads of libraries). Named "Null", identifier 0, never started.
class NullThread : public Thread {
public:
    static NullThread& instance();

private:
    NullThread() : Thread("Null") {}
};
