#pragma once

#include <cstdint>

class Storage;

// Rebuilds what a crash kept from the indexes: media frames written after the timeline
// was last saved get their timeline entries again (under the timeline's key-group rule,
// so a channel whose key group cannot be continued waits for its next key frame), and
// the recording table catches up with the timeline. Runs after the correction, with the
// storage's tracks opened for it and closed again. Its work follows what the indexes
// lack, not the size of the file.
class StorageRecoverer {
public:
    explicit StorageRecoverer(Storage& storage) : _storage(storage) {}

    void run();
    // Entries the last run added to the timeline.
    uint32_t recoveredEntries() const { return _recovered; }

private:
    void recoverTimeline();
    void recoverRecordingTable();
    void log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Storage& _storage;
    uint32_t _recovered = 0;
};
