#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/group/IStorageGroupListener.h"
#include "app/group/StorageFileEntry.h"
#include "app/group/StorageGroup.h"
#include "app/group/StorageGroupFile.h"
#include "base/UniqueID.h"
#include "storage/IStorageListener.h"
#include "storage/pager/TarsilFormat.h"

class FixedSizeFileStorage;

// One storage group as a schedule (or a tool) holds it: the group file kept open and
// locked, its storage files opened and classified (good, not formatted or of another
// repository, not found, open error), and the good ones made members of a StorageGroup.
// A storage that another process holds open for writing is an open error here: it can
// neither be recorded into nor trusted to stay as read.
//
// The context keeps the group file current: after every open and every switch of the
// recording storage it writes which storage records and in which section, and it
// writes the section again whenever the group begins a new one, so that the next open
// continues the numbering. A failure to write the group file is traced; recording goes
// on.
//
// Read-only contexts (setReadOnly) read the group file without locking it and open the
// storages read-only: nothing is changed, for tools that only look.
//
// Threads: the owner's thread and the storage manager take turns (callers serialise);
// the section and switch notifications arrive on the group's writing thread.
class StorageGroupContext : private IStorageGroupListener, private IStorageListener {
public:
    // Without a repository ID the group file's own is taken.
    explicit StorageGroupContext(std::optional<UniqueID> repositoryID = std::nullopt);
    ~StorageGroupContext() override;
    StorageGroupContext(const StorageGroupContext&) = delete;
    StorageGroupContext& operator=(const StorageGroupContext&) = delete;

    void setReadOnly(bool readOnly) { _readOnly = readOnly; }
    bool isReadOnly() const { return _readOnly; }
    // Called after every successful open (the schedule recomputes where to resume).
    void setOpenedHandler(std::function<void()> handler) { _opened = std::move(handler); }

    // Loads the group file (false when it is missing, held elsewhere, no group file, or
    // of another repository) and opens the group; false also when no storage is usable.
    bool load(const std::string& path);
    // Re-classifies every listed storage file and reopens the group; true when at least
    // one storage is good.
    bool open();
    // Closes the group (without flushing: whoever recorded flushes first) and releases
    // the storages; the group file stays loaded.
    void close();
    // close() and the group file released.
    void unload();

    // Each lists or unlists a file in the group file, then opens the group again.
    bool addStorageFile(const std::string& path);
    bool removeStorageFile(int key);
    // Formats the entry's file anew for this repository (everything in it is lost), then
    // opens the group again.
    bool recreateStorageFile(int key, uint32_t pageSize = TarsilFormat::DefaultPageSize);

    // Over the opened storages.
    uint64_t capacity();
    uint64_t usedBytes();
    // Every listed file as last classified, with sizes and intervals refreshed.
    std::map<int, StorageFileEntry> entries();

    StorageGroup& group() { return _group; }
    StorageGroupFile& file() { return _file; }
    bool isLoaded() const { return _loaded; }
    const std::optional<UniqueID>& repositoryID() const { return _repositoryID; }

    // Creates `path` with `size` bytes reserved and formats it as an empty storage of the
    // repository. Throws SystemException when the file cannot be created (it exists, no
    // room) and TarsilException 3 when it cannot be formatted (the file is removed then).
    static void createStorageFile(const std::string& path, uint64_t size, const UniqueID& repositoryID,
                                  uint32_t pageSize = TarsilFormat::DefaultPageSize);

private:
    void classify(StorageFileEntry& entry);
    void refresh(StorageFileEntry& entry, Storage& storage);
    void recordCurrent();

    // IStorageGroupListener
    void recordingStorageChanging(StorageGroup& group) override;
    void recordingStorageChanged(Storage& current) override;
    // IStorageListener (of the group)
    void spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) override;
    void changeBegun(Storage& storage) override;
    void changeFinished(Storage& storage) override;
    void recordingSectionChanged(Storage& storage, uint32_t sectionID) override;

    std::optional<UniqueID> _repositoryID;
    bool _repositoryFromFile = false;
    StorageGroupFile _file;
    bool _loaded = false;
    bool _readOnly = false;
    int _nextKey = 0;
    std::map<int, StorageFileEntry> _entries;
    std::map<int, std::unique_ptr<FixedSizeFileStorage>> _storages;
    StorageGroup _group;
    std::function<void()> _opened;
};
