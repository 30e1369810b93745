#include "base/thread/ISingleton.h"

Mutex& ISingleton::creationMutex() {
    static Mutex* mutex = new Mutex();
    return *mutex;
}
