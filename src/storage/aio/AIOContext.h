#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "storage/aio/AIOControlBlock.h"
#include "storage/aio/FileKey.h"

class FaultPlan;

// The process-wide doorway of every storage device transfer. Requests run synchronously
// on the calling thread with positional reads and writes (interrupted calls and partial
// transfers are resumed), so several threads may issue requests at once. Every failure
// becomes an IOException naming the descriptor, offset and length.
//
// Durability: a write that returned has reached the file, not the medium. Two writes may
// reach the medium in either order, and the device may hold them in a volatile cache;
// `barrier` is the only point after which earlier writes of a file survive a power cut.
// Code that must put one block on disk after others (a page header after its data, a
// journal before the changes it describes) makes the first durable before writing the
// second.
//
// The context keeps that bookkeeping per file (all descriptors of one file share it):
// every write gets a ticket, increasing across the process; a successful barrier makes
// every earlier write of its file durable. A failed barrier is what Linux makes of a
// failed fdatasync: the writes it should have made durable may or may not be on the
// medium, and no later barrier changes that. Those writes are lost for good: `isDurable`
// never answers true for them, so nothing built on them can be reported durable.
//
// Crash tests install a FaultPlan, which sees every read, write and barrier and can fail,
// shorten or lose them as a failing disk or a power cut would.
//
// Thread-safe: the bookkeeping has a mutex of its own, never held during device I/O.
class AIOContext {
public:
    static AIOContext& instance();

    void read(int handle, void* buffer, uint64_t offset, uint32_t length);
    // Returns the write's ticket.
    uint64_t write(int handle, const void* buffer, uint64_t offset, uint32_t length);
    // Carries the blocks out in order; the first failure throws and the rest are not
    // started. A read that meets the end of the file fills the rest of its buffer with
    // zeros, so stale memory is never taken for file content. Returns the ticket of the
    // last write (0 when there was none).
    uint64_t request(const AIOControlBlock blocks[], int count);
    // Makes every write of the file done so far durable (fdatasync). A failure throws
    // IOException and loses the writes that were not durable yet (see above).
    void barrier(int handle);
    // A barrier only when the file has writes that one would make durable; returns
    // whether it issued one.
    bool barrierIfPending(int handle);

    // A write with this ticket is behind a successful barrier and was not lost. Ticket 0
    // (no write) is durable.
    bool isDurable(int handle, uint64_t ticket);
    // A failed barrier lost the write with this ticket.
    bool isLost(int handle, uint64_t ticket);
    // The file has writes that are neither durable nor lost.
    bool hasPendingWrites(int handle);
    // The ticket of the file's latest write (0 when none was made through the context).
    uint64_t lastWriteTicket(int handle);
    // Barriers issued so far by the whole process (benchmarks and diagnostics).
    uint64_t barrierCount() const { return _barrierCount.load(); }

    // Installs a plan (not owned; nullptr removes it). Tests only.
    void setFaultPlan(FaultPlan* plan);
    FaultPlan* faultPlan() const { return _plan.load(); }

    // The plain system calls behind the context, with interrupted calls resumed. They
    // return what pread/pwrite return (-1 with errno set on failure); a read returns
    // fewer bytes than asked only at the end of the file.
    static long systemRead(int handle, void* buffer, uint64_t offset, uint32_t length);
    static long systemWrite(int handle, const void* buffer, uint64_t offset, uint32_t length);
    static int systemBarrier(int handle);

private:
    // Tickets up to `settled` are durable unless they lie in one of the lost ranges.
    struct FileState {
        uint64_t lastWrite = 0;
        uint64_t settled = 0;
        std::vector<std::pair<uint64_t, uint64_t>> lost;  // inclusive ticket ranges
    };

    AIOContext() = default;
    void readOne(const AIOControlBlock& block);
    uint64_t writeOne(const AIOControlBlock& block);
    static bool inLostRange(const FileState& state, uint64_t ticket);

    std::atomic<FaultPlan*> _plan{nullptr};
    std::atomic<uint64_t> _barrierCount{0};
    std::mutex _stateMutex;
    uint64_t _lastTicket = 0;
    std::map<FileKey, FileState> _files;
};
