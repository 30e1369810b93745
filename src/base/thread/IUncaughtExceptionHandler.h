#pragma once

class Exception;
class Thread;

// Told about an exception that escaped a thread's body, on that thread, just before the
// thread finishes. Standard-library exceptions arrive wrapped as StandardException and
// objects of any other type as UnknownException. Called from many threads at once.
class IUncaughtExceptionHandler {
public:
    virtual ~IUncaughtExceptionHandler() = default;
    virtual void uncaughtException(Thread& thread, Exception& e) = 0;
};
