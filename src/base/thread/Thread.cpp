#include "base/thread/Thread.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <map>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

#include "base/StandardException.h"
#include "base/SystemException.h"
#include "base/Trace.h"
#include "base/UnknownException.h"
#include "base/thread/DefaultUncaughtExceptionHandler.h"
#include "base/thread/Mutex.h"
#include "base/thread/NullThread.h"

namespace {

// Identifier -> Thread of every body that is running now. The lock is held only for
// single map updates and look-ups. Never destroyed, so threads still finishing while the
// process exits find it intact.
struct Registry {
    Mutex mutex;
    std::map<uint32_t, Thread*> threads;
};

Registry& registry() {
    static Registry* instance = new Registry();
    return *instance;
}

void registerThread(uint32_t id, Thread* thread) {
    Registry& r = registry();
    std::lock_guard<Mutex> guard(r.mutex);
    r.threads[id] = thread;
}

void unregisterThread(uint32_t id) {
    Registry& r = registry();
    std::lock_guard<Mutex> guard(r.mutex);
    r.threads.erase(id);
}

std::atomic<IUncaughtExceptionHandler*> g_uncaughtHandler{nullptr};

// The system keeps at most 15 characters of a thread name.
void nameCallingThread(const char* name) {
    if (name == nullptr) {
        return;
    }
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
}

}  // namespace

Thread::Thread(const char* name) : _target(this), _name(name) {}

Thread::Thread(IRunnable* target, const char* name) : _target(target != nullptr ? target : this), _name(name) {}

Thread::~Thread() {
    std::lock_guard<std::mutex> guard(_handleMutex);
    if (_joinable) {
        // A body still running here is its owner's fault; let it go rather than block.
        if (_finished.isSet()) {
            pthread_join(_handle, nullptr);
        } else {
            pthread_detach(_handle);
        }
        _joinable = false;
    }
}

void Thread::start() {
    reapHandle();
    _finished.reset();
    _id.store(0, std::memory_order_release);
    std::lock_guard<std::mutex> guard(_handleMutex);
    int error = pthread_create(&_handle, nullptr, &Thread::procedure, this);
    if (error != 0) {
        _finished.set();
        throw SystemException(QF_HERE, error);
    }
    _joinable = true;
}

void Thread::join() {
    _finished.wait();
    reapHandle();
}

bool Thread::joinFor(int milliseconds) {
    if (!_finished.waitFor(milliseconds)) {
        return false;
    }
    reapHandle();
    return true;
}

// Releases the system's record of a body that has finished (or waits for one that is
// about to, after signalling `finished`).
void Thread::reapHandle() {
    _finished.wait();
    std::lock_guard<std::mutex> guard(_handleMutex);
    if (_joinable) {
        pthread_join(_handle, nullptr);
        _joinable = false;
    }
}

void* Thread::procedure(void* self) {
    static_cast<Thread*>(self)->execute();
    return nullptr;
}

void Thread::execute() {
    uint32_t id = currentThreadId();
    _id.store(id, std::memory_order_release);
    registerThread(id, this);
    nameCallingThread(_name);
    QF_TRACE("Starting thread: \"%s\"(ID=%u)", printableName(), id);
    try {
        _target->run();
        QF_TRACE("Finishing thread: \"%s\"(ID=%u)", printableName(), id);
        unregisterThread(id);
    } catch (...) {
        unregisterThread(id);
        reportUncaught();
    }
    // Nothing may touch this object after the signal: join() may return and delete it.
    _finished.set();
}

// Called inside a catch block: hands the exception being handled to the handler in the
// form the family expects. A handler that throws itself is ignored so the thread still
// finishes.
void Thread::reportUncaught() {
    IUncaughtExceptionHandler& handler = uncaughtExceptionHandler();
    try {
        try {
            throw;
        } catch (Exception& e) {
            handler.uncaughtException(*this, e);
        } catch (const std::exception& e) {
            StandardException wrapped(e);
            handler.uncaughtException(*this, wrapped);
        } catch (...) {
            UnknownException unknown;
            handler.uncaughtException(*this, unknown);
        }
    } catch (...) {
        QF_TRACE("Uncaught exception handler failed in thread \"%s\"", printableName());
    }
}

Thread& Thread::currentThread() {
    uint32_t id = currentThreadId();
    Registry& r = registry();
    {
        std::lock_guard<Mutex> guard(r.mutex);
        auto found = r.threads.find(id);
        if (found != r.threads.end()) {
            return *found->second;
        }
    }
    return NullThread::instance();
}

void Thread::sleep(int milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

void Thread::yield() {
    sched_yield();
}

namespace {

// The calling thread's kernel identifier, asked for once per thread: the media dispatcher
// looks it up twice for every record it hands on. 0 until the first look-up.
thread_local uint32_t t_threadId = 0;

// A forked child's only thread would otherwise keep the identifier of the parent's thread
// that forked.
void forgetThreadIdInChild() {
    t_threadId = 0;
}

}  // namespace

uint32_t Thread::currentThreadId() {
    uint32_t id = t_threadId;
    if (id == 0) {
        // Installed before any identifier is kept, so no fork can copy one unnoticed.
        static const int forkHandler = pthread_atfork(nullptr, nullptr, forgetThreadIdInChild);
        (void)forkHandler;
        id = static_cast<uint32_t>(gettid());
        t_threadId = id;
    }
    return id;
}

void Thread::setUncaughtExceptionHandler(IUncaughtExceptionHandler* handler) {
    g_uncaughtHandler.store(handler, std::memory_order_release);
}

IUncaughtExceptionHandler& Thread::uncaughtExceptionHandler() {
    IUncaughtExceptionHandler* handler = g_uncaughtHandler.load(std::memory_order_acquire);
    if (handler != nullptr) {
        return *handler;
    }
    return DefaultUncaughtExceptionHandler::instance();
}
