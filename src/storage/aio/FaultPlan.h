#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "storage/aio/FileKey.h"

// What a crash test wants the I/O context to do to the transfers it sees: fail or shorten
// a read or a write, fail a barrier, or cut the power at a write or at a barrier.
//
// Counting. Reads, writes and barriers are counted from 1 from the moment the plan is
// installed, across every descriptor, or only those of one file after `aimAt`. The
// kth write from now is `writeCount() + k`.
//
// What the plan remembers. From installation on, the plan keeps, per file, every write
// that is not yet durable: where, the bytes written and the bytes they replaced. A
// successful barrier makes a file's writes durable. A failed barrier is modelled on
// Linux's fdatasync: the writes it covered have an unknown fate, which no later barrier
// settles; the plan keeps them, and the next power cut decides them like any write that
// was never behind a barrier. Writes made before the plan was installed count as durable,
// so install it before the workload's first write.
//
// Power cut. At the chosen write (which is not done) or barrier (which does not happen),
// every file's writes that are not durable are each either kept, dropped, or torn into a
// subset of their 512-byte sectors, as a generator seeded with the cut's seed decides.
// Each file is then rewritten to exactly that state (everything remembered is rolled back
// from the saved old bytes, newest first, then replayed in order: durable writes whole,
// the others as decided) and made durable. A power cut hits every file, also when the
// plan is aimed at one. From then on every write and barrier is lost (reported as done,
// or as an EIO failure after `failWritesAfterCut`), so the test can reopen the files as
// the crash left them. The same seed and the same sequence of writes always give the
// same files.
//
// Thread-safe: one mutex guards the counters and the remembered writes.
class FaultPlan {
public:
    // What became of one write that was not durable when the power went.
    struct Outcome {
        std::string path;
        uint64_t offset = 0;
        uint32_t length = 0;
        std::vector<bool> keptSectors;  // one flag per 512-byte sector of the write
        uint32_t keptBytes = 0;         // 0: dropped; length: kept; between: torn
    };

    static constexpr uint32_t SectorSize = 512;

    FaultPlan() = default;
    // Removes the plan from the I/O context when it is installed.
    ~FaultPlan();
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    // Installs the plan on the I/O context (see AIOContext::setFaultPlan).
    void install();
    // Counts and faults only the transfers of the file at `path` (which must exist);
    // every other file passes untouched, except by a power cut.
    void aimAt(const std::string& path);

    // The nth write fails with `error` (EIO, ENOSPC, ...) and writes nothing.
    void failWrite(uint64_t n, int error);
    // The nth write transfers only the first half of its bytes (in whole 512-byte units).
    void shortWrite(uint64_t n);
    // The nth read fails with `error`.
    void failRead(uint64_t n, int error);
    // The nth read transfers only its first half (in whole aligned units; a read of one
    // unit is not shortened), as an interrupted transfer would.
    void shortRead(uint64_t n);
    // The nth barrier fails with `error` (EIO by default): see "What the plan remembers".
    void failBarrier(uint64_t n, int error = EIO);
    // The power goes at the nth write, or at the nth barrier (see above).
    void cutPowerAtWrite(uint64_t n, uint32_t seed);
    void cutPowerAtBarrier(uint64_t n, uint32_t seed);
    // Writes and barriers after the cut fail with EIO instead of vanishing silently.
    void failWritesAfterCut(bool fail);

    uint64_t writeCount() const;
    uint64_t readCount() const;
    uint64_t barrierCount() const;
    bool powerIsCut() const;
    std::vector<Outcome> outcomes() const;

    // Called by the I/O context in place of the system calls.
    long write(int handle, const void* buffer, uint64_t offset, uint32_t length);
    long read(int handle, void* buffer, uint64_t offset, uint32_t length);
    int barrier(int handle);

private:
    enum class Fate { Pending, Uncertain, Durable };
    struct RememberedWrite {
        uint64_t offset;
        std::vector<char> before;
        std::vector<char> after;
        Fate fate;
    };
    struct FileWrites {
        std::string path;
        std::vector<RememberedWrite> writes;
    };
    bool isAimedAt(int handle) const;
    void remember(int handle, const void* buffer, uint64_t offset, uint32_t length);
    void settleAfterBarrier(int handle, bool succeeded);
    void cutPower();
    std::vector<bool> chooseSectors(std::mt19937& generator, uint32_t sectors);

    mutable std::mutex _mutex;
    bool _aimed = false;
    FileKey _target{};
    uint64_t _writes = 0;
    uint64_t _reads = 0;
    uint64_t _barriers = 0;
    std::map<uint64_t, int> _failWrites;
    std::set<uint64_t> _shortWrites;
    std::map<uint64_t, int> _failReads;
    std::set<uint64_t> _shortReads;
    std::map<uint64_t, int> _failBarriers;
    uint64_t _cutAtWrite = 0;
    uint64_t _cutAtBarrier = 0;
    uint32_t _seed = 0;
    bool _cut = false;
    bool _failAfterCut = false;
    std::map<FileKey, FileWrites> _remembered;
    std::vector<Outcome> _outcomes;
};
