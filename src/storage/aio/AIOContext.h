#pragma once

#include <atomic>
#include <cstdint>

#include "storage/aio/AIOControlBlock.h"

class FaultPlan;

// The process-wide doorway of every storage device transfer. Requests run synchronously
// on the calling thread with positional reads and writes (interrupted calls are
// resumed), so several threads may issue requests at once and no lock is needed. Every
// failure becomes an IOException naming the descriptor, offset and length.
//
// Durability: a write that returned has reached the file, not the medium. Two writes may
// reach the medium in either order, and the device may hold them in a volatile cache;
// `barrier` is the only point after which earlier writes of a file survive a power cut.
// Code that must put one block on disk after others (a page header after its data, a
// journal before the changes it describes) calls `barrier` between them.
//
// Crash tests install a FaultPlan, which sees every write and barrier and can fail,
// shorten or lose writes as a failing disk or a power cut would.
class AIOContext {
public:
    static AIOContext& instance();

    void read(int handle, void* buffer, uint64_t offset, uint32_t length);
    void write(int handle, const void* buffer, uint64_t offset, uint32_t length);
    // Carries the blocks out in order; the first failure throws and the rest are not
    // started. A read that meets the end of the file fills the rest of its buffer with
    // zeros, so stale memory is never taken for file content.
    void request(const AIOControlBlock blocks[], int count);
    // Makes every write of the file done so far durable (fdatasync).
    void barrier(int handle);

    // Installs a plan (not owned; nullptr removes it). Tests only.
    void setFaultPlan(FaultPlan* plan);
    FaultPlan* faultPlan() const { return _plan.load(); }

    // The plain system calls behind the context, with interrupted calls resumed. They
    // return what pread/pwrite return (-1 with errno set on failure).
    static long systemRead(int handle, void* buffer, uint64_t offset, uint32_t length);
    static long systemWrite(int handle, const void* buffer, uint64_t offset, uint32_t length);
    static int systemBarrier(int handle);

private:
    AIOContext() = default;
    void readOne(const AIOControlBlock& block);
    void writeOne(const AIOControlBlock& block);

    std::atomic<FaultPlan*> _plan{nullptr};
};
