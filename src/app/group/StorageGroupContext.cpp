#include "app/group/StorageGroupContext.h"

#include "base/Exception.h"
#include "base/File.h"
#include "base/TarsilException.h"
#include "base/Trace.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/StorageUtility.h"
#include "storage/TarsilError.h"
#include "storage/aio/StorageDevice.h"
#include "storage/pager/SuperBlock.h"

namespace {

// True only when the file could be read and holds no storage superblock.
bool isUnformatted(const std::string& path) {
    uint64_t size = 0;
    int handle = -1;
    try {
        handle = StorageDevice::openHandle(path.c_str(), true, size);
        if (handle == -1) {
            return false;
        }
        SuperBlock superBlock;
        superBlock.load(handle, handle, 0, StorageDevice::ioMinBlockSize(handle));
        bool valid = superBlock.isValid();
        superBlock.clear();
        File::close(handle);
        return !valid;
    } catch (const Exception&) {
        File::close(handle);
        return false;
    }
}

}  // namespace

StorageGroupContext::StorageGroupContext(std::optional<UniqueID> repositoryID) : _repositoryID(repositoryID) {
    _group.addListener(static_cast<IStorageGroupListener*>(this));
    _group.addListener(static_cast<IStorageListener*>(this));
}

StorageGroupContext::~StorageGroupContext() {
    unload();
    _group.removeListener(static_cast<IStorageGroupListener*>(this));
    _group.removeListener(static_cast<IStorageListener*>(this));
}

bool StorageGroupContext::load(const std::string& path) {
    unload();
    if (!(_readOnly ? _file.read(path) : _file.load(path))) {
        return false;
    }
    std::optional<UniqueID> repository = _file.repositoryUniqueID();
    if (!repository || (_repositoryID && !repository->equals(*_repositoryID))) {
        QF_TRACE("StorageGroupContext: %s belongs to another repository", path.c_str());
        _file.close();
        return false;
    }
    if (!_repositoryID) {
        _repositoryID = repository;
        _repositoryFromFile = true;
    }
    _loaded = true;
    return open();
}

void StorageGroupContext::classify(StorageFileEntry& entry) {
    const std::string& path = entry.path();
    try {
        if (!File::exists(path.c_str())) {
            entry.setStatus(StorageFileEntry::NotFound);
            return;
        }
    } catch (const Exception&) {
        entry.setStatus(StorageFileEntry::NotFound);
        return;
    }
    auto storage = std::make_unique<FixedSizeFileStorage>();
    storage->setReadOnly(_readOnly);
    try {
        entry.setFileSize(File::size(path.c_str()));
        if (!storage->open(path.c_str())) {
            bool couldOpen = storage->isOpen();
            storage->close(false);
            entry.setStatus(couldOpen && isUnformatted(path) ? StorageFileEntry::NotFormatted
                                                             : StorageFileEntry::OpenError);
            return;
        }
        if (!storage->isOpen() || (!_readOnly && storage->isReadOnly())) {
            // Held for writing by another process (or not writable): not recordable.
            storage->close(false);
            entry.setStatus(StorageFileEntry::OpenError);
            return;
        }
        if (!_repositoryID || !storage->repositoryID().equals(*_repositoryID)) {
            storage->close(false);
            entry.setStatus(StorageFileEntry::NotFormatted);
            return;
        }
        entry.setStatus(StorageFileEntry::Good);
        refresh(entry, *storage);
        _group.addStorage(storage.get(), false);
        _storages[entry.key()] = std::move(storage);
    } catch (const Exception& e) {
        QF_TRACE("StorageGroupContext: opening %s: %s", path.c_str(), e.describe().c_str());
        try {
            storage->close(false);
        } catch (const Exception&) {
        }
        entry.setStatus(StorageFileEntry::OpenError);
    }
}

void StorageGroupContext::refresh(StorageFileEntry& entry, Storage& storage) {
    uint64_t free = storage.isReadOnly() ? StorageUtility(storage).storedFreePageCount() : storage.freePageCount();
    uint64_t pages = storage.pageCount();
    entry.setFileSize(storage.fileSize());
    entry.setUsedBytes((pages > free ? pages - free : 0) * storage.pageSize());
    entry.setRecordingInterval(storage.recordingInterval());
}

bool StorageGroupContext::open() {
    close();
    if (!_loaded) {
        return false;
    }
    bool any = false;
    for (const std::string& path : _file.storageFiles()) {
        StorageFileEntry entry(_nextKey++, path);
        classify(entry);
        any = any || entry.status() == StorageFileEntry::Good;
        _entries[entry.key()] = entry;
    }
    if (!any) {
        return false;
    }
    if (_readOnly) {
        _group.openGroup(std::nullopt, 0);  // a look changes no section
    } else {
        _group.openGroup(_file.lastStorageUniqueID(), _file.lastRecordingSectionID());
    }
    recordCurrent();
    if (_opened) {
        _opened();
    }
    return true;
}

void StorageGroupContext::close() {
    _group.closeGroup(false);
    _entries.clear();
    _storages.clear();
}

void StorageGroupContext::unload() {
    close();
    try {
        _file.close();
    } catch (const Exception& e) {
        QF_TRACE("StorageGroupContext: closing %s: %s", _file.path().c_str(), e.describe().c_str());
    }
    _loaded = false;
    if (_repositoryFromFile) {
        _repositoryID.reset();
        _repositoryFromFile = false;
    }
}

bool StorageGroupContext::addStorageFile(const std::string& path) {
    if (!_loaded || _readOnly) {
        return false;
    }
    _file.addStorageFile(path);
    return open();
}

bool StorageGroupContext::removeStorageFile(int key) {
    auto found = _entries.find(key);
    if (!_loaded || _readOnly || found == _entries.end()) {
        return false;
    }
    std::string path = found->second.path();
    close();
    _file.removeStorageFile(path);
    open();
    return true;
}

bool StorageGroupContext::recreateStorageFile(int key, uint32_t pageSize) {
    auto found = _entries.find(key);
    if (!_loaded || _readOnly || found == _entries.end() || !_repositoryID) {
        return false;
    }
    std::string path = found->second.path();
    close();
    bool formatted = formatStorageFile(path, *_repositoryID, pageSize);
    open();
    return formatted;
}

uint64_t StorageGroupContext::capacity() {
    uint64_t total = 0;
    for (const auto& [key, storage] : _storages) {
        total += storage->fileSize();
    }
    return total;
}

uint64_t StorageGroupContext::usedBytes() {
    uint64_t total = 0;
    for (auto& [key, entry] : _entries) {
        auto storage = _storages.find(key);
        if (storage != _storages.end()) {
            refresh(entry, *storage->second);
            total += entry.usedBytes();
        }
    }
    return total;
}

std::map<int, StorageFileEntry> StorageGroupContext::entries() {
    for (auto& [key, entry] : _entries) {
        auto storage = _storages.find(key);
        if (storage != _storages.end()) {
            refresh(entry, *storage->second);
        }
    }
    return _entries;
}

void StorageGroupContext::createStorageFile(const std::string& path, uint64_t size, const UniqueID& repositoryID,
                                            uint32_t pageSize) {
    File::createPreallocated(path.c_str(), size);
    if (!formatStorageFile(path, repositoryID, pageSize)) {
        File::remove(path.c_str());
        QF_THROW_TARSIL(TarsilError::InvalidStorage);
    }
}

// ---- keeping the group file current -------------------------------------------------

void StorageGroupContext::recordCurrent() {
    Storage* current = _group.currentStorage();
    if (_readOnly || !_file.isOpen() || current == nullptr) {
        return;
    }
    try {
        _file.setLastRecording(current->storageID(), current->currentSectionID());
    } catch (const Exception& e) {
        QF_TRACE("StorageGroupContext: cannot record the current storage in %s: %s", _file.path().c_str(),
                 e.describe().c_str());
    }
}

void StorageGroupContext::recordingStorageChanging(StorageGroup& group) {
    (void)group;
}

void StorageGroupContext::recordingStorageChanged(Storage& current) {
    (void)current;
    recordCurrent();
}

void StorageGroupContext::spaceChanged(Storage& storage, uint32_t freePageCount, uint32_t pageCount) {
    (void)storage, (void)freePageCount, (void)pageCount;
}

void StorageGroupContext::changeBegun(Storage& storage) {
    (void)storage;
}

void StorageGroupContext::changeFinished(Storage& storage) {
    (void)storage;
}

void StorageGroupContext::recordingSectionChanged(Storage& storage, uint32_t sectionID) {
    (void)storage;
    if (sectionID != _file.lastRecordingSectionID()) {
        recordCurrent();
    }
}
