#pragma once

#include <string>

// Makes a process the only holder of a lock file: an exclusive flock taken without
// waiting. The lock goes with the process (also on a crash: the kernel drops it with the
// descriptor), so a stale lock file never keeps a new process out. Not copyable; one
// thread at a time.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates `path` (mode 0600) when missing and locks it. False when another process
    // holds it; throws SystemException when the file cannot be opened.
    bool acquire(const std::string& path);
    void release();
    bool isHeld() const { return _handle != -1; }

private:
    int _handle = -1;
};
