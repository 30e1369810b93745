#include "base/thread/NullThread.h"

NullThread& NullThread::instance() {
    // Never destroyed: log lines and handlers may ask for it while the process exits.
    static NullThread* instance = new NullThread();
    return *instance;
}
