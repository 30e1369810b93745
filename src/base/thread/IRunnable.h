#pragma once

// A body of work that a Thread executes.
class IRunnable {
public:
    virtual ~IRunnable() = default;
    virtual void run() = 0;
};
