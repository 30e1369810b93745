#pragma once

class Storage;
class StorageGroup;

// Told when a storage group moves its recording to another member storage (the group is
// full where it was). Called on the group's writing thread, inside the write that caused
// the switch.
class IStorageGroupListener {
public:
    virtual ~IStorageGroupListener() = default;
    virtual void recordingStorageChanging(StorageGroup& group) = 0;
    // `current` is the storage that records from now on.
    virtual void recordingStorageChanged(Storage& current) = 0;
};
