#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// What a crash test wants the I/O context to do to the writes it sees: fail one, cut one
// short, or cut the power. Writes and reads are counted from 1 from the moment the plan
// is installed (AIOContext::setFaultPlan), across every descriptor.
//
// Power cut. While a cut is planned, the plan keeps, per file, the writes done since the
// file's last barrier: where, the bytes written, and the bytes they replaced. When the
// chosen write comes, that write is not done, and each kept write is independently
// either kept, dropped, or torn (only its first n × 512 bytes kept), as a seeded
// generator decides; the file is then rewritten to exactly that state (everything
// since the barrier is rolled back from the saved old bytes in reverse order, then the
// surviving parts are written again in their original order) and made durable. From
// then on every write and barrier is lost (reported as done, or as an EIO failure when
// the plan says so), so the test can reopen the file as the crash left it. The same
// seed and the same sequence of writes always give the same file.
//
// Thread-safe: one mutex guards the counters and the saved writes.
class FaultPlan {
public:
    // What became of one write that was not yet behind a barrier when the power went.
    struct Outcome {
        std::string path;
        uint64_t offset = 0;
        uint32_t length = 0;
        uint32_t keptBytes = 0;  // 0: dropped; length: kept; between: torn
    };

    FaultPlan() = default;
    ~FaultPlan();
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    // The nth write fails with `error` (EIO, ENOSPC, ...) and writes nothing.
    void failWrite(uint64_t n, int error);
    // The nth read fails with `error`.
    void failRead(uint64_t n, int error);
    // The nth write transfers only the first half of its bytes (in whole 512-byte units).
    void shortWrite(uint64_t n);
    // The power goes at the nth write (see above).
    void cutPowerAtWrite(uint64_t n, uint32_t seed);
    // Writes after the cut fail with EIO instead of vanishing silently.
    void failWritesAfterCut(bool fail) { _failAfterCut = fail; }

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
    struct PendingWrite {
        uint64_t offset;
        std::vector<char> before;
        std::vector<char> after;
    };
    struct PendingFile {
        std::string path;
        std::vector<PendingWrite> writes;
    };
    using FileKey = std::pair<dev_t, ino_t>;

    static bool keyOf(int handle, FileKey& key);
    void remember(int handle, const void* buffer, uint64_t offset, uint32_t length);
    void cutPower();

    mutable std::mutex _mutex;
    uint64_t _writes = 0;
    uint64_t _reads = 0;
    uint64_t _barriers = 0;
    uint64_t _failWriteAt = 0;
    int _failWriteError = 0;
    uint64_t _failReadAt = 0;
    int _failReadError = 0;
    uint64_t _shortWriteAt = 0;
    uint64_t _cutAt = 0;
    uint32_t _seed = 0;
    bool _cut = false;
    bool _failAfterCut = false;
    std::map<FileKey, PendingFile> _pending;
    std::vector<Outcome> _outcomes;
};
