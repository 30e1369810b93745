#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <pthread.h>

#include "base/thread/Event.h"
#include "base/thread/IRunnable.h"

class IUncaughtExceptionHandler;

// A named operating-system thread that runs either its own run() (subclasses override it)
// or a separate IRunnable target. While the body runs the thread is registered under its
// identifier, so Thread::currentThread() finds it from inside; callers not started through
// a Thread get the NullThread. An exception escaping the body goes to the process-wide
// uncaught-exception handler and the thread then finishes normally, so join() returns.
//
// start(), join() and the accessors may be called from any thread. A Thread must not be
// destroyed while its body runs, and must not be started again before it has finished.
class Thread : public IRunnable {
public:
    // `name` is not copied and must outlive the thread (a literal); may be null.
    explicit Thread(const char* name);
    // Runs `target` (not owned) instead of this object's run().
    Thread(IRunnable* target, const char* name);
    ~Thread() override;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void run() override {}

    // Creates the operating-system thread. Throws SystemException when it cannot be created.
    virtual void start();
    // Waits without time limit until the body has finished (at once when never started).
    void join();
    // Waits at most `milliseconds`; true when the body has finished.
    bool joinFor(int milliseconds);
    bool isFinished() const { return _finished.isSet(); }

    const char* name() const { return _name; }
    // The name, or "(null)" for an unnamed thread: safe to pass to printf.
    const char* printableName() const { return _name != nullptr ? _name : "(null)"; }
    // The operating-system identifier of the running body; 0 before it has started.
    uint32_t id() const { return _id.load(std::memory_order_acquire); }

    // The registered Thread of the calling thread, or the NullThread.
    static Thread& currentThread();
    static void sleep(int milliseconds);
    static void yield();
    static uint32_t currentThreadId();

    // Process-wide handler for exceptions escaping thread bodies; nullptr restores the
    // default, which traces them. The handler is not owned and must outlive every thread.
    static void setUncaughtExceptionHandler(IUncaughtExceptionHandler* handler);
    static IUncaughtExceptionHandler& uncaughtExceptionHandler();

private:
    static void* procedure(void* self);
    void execute();
    void reportUncaught();
    void reapHandle();

    pthread_t _handle{};
    bool _joinable = false;  // guarded by _handleMutex
    std::mutex _handleMutex;
    Event _finished{true};
    std::atomic<uint32_t> _id{0};
    IRunnable* _target;
    const char* _name;
};
