#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ExclusiveFile.h"
#include "base/UniqueID.h"

// The group file (.strgx) of a storage group: a small JSON text naming the group's
// repository (the owning site's id), where recording last stopped (the storage that was
// recording and its section) and the paths of the member storage files, in the order they
// were added.
//
// While loaded, the file stays open and locked: no other group file object, in this
// process or another, can load it, and WinFile::isLocked reports it held. Every change
// is saved at once, and a save replaces the file whole (ExclusiveFile), so after a crash
// the file holds the content before or after the change, never a mix. A change whose save
// fails is taken back, so the object always holds what the file holds.
//
// One thread at a time: the schedule's thread and the storage manager's take turns,
// serialised by their callers.
class StorageGroupFile {
public:
    // Fixed by stored group files; they cannot change.
    static constexpr const char* MAGIC = "StorageGroupFile";
    static constexpr const char* VERSION = "1";
    static constexpr const char* KEY_MAGIC = "Magic";
    static constexpr const char* KEY_VERSION = "Version";
    static constexpr const char* KEY_REPOSITORY_ID = "RepositoryID";
    static constexpr const char* KEY_LAST_STORAGE_ID = "LastStorageID";
    static constexpr const char* KEY_LAST_RECORDING_SECTION_ID = "LastRecordingSectionID";
    static constexpr const char* KEY_STORAGE_FILES = "StorageFiles";
    // Group files are a few kilobytes; anything far larger is not one.
    static constexpr size_t MAX_FILE_SIZE = 16 * 1024 * 1024;

    StorageGroupFile();
    // Closes the file; a failure then is traced.
    ~StorageGroupFile();
    StorageGroupFile(const StorageGroupFile&) = delete;
    StorageGroupFile& operator=(const StorageGroupFile&) = delete;

    // Writes a new group file for `repositoryID` with no storages, section 0 and no last
    // storage, and leaves it closed; the object holds those contents. False when something
    // exists at `path` (it is left untouched). The file appears complete or not at all.
    // Other failures (a missing folder, a full disk) throw SystemException.
    bool create(const std::string& path, const UniqueID& repositoryID);
    // Closes the previous file and forgets its contents, then opens, locks, reads and
    // checks `path`. False, with the file closed and the contents empty, when the file is
    // missing, held by someone else, unreadable, not a group file, or misses one of
    // Version, RepositoryID and LastRecordingSectionID.
    bool load(const std::string& path);
    // Reads and checks `path` like load, without opening it for writing or locking it:
    // the object holds the contents while the file stays closed (isOpen is false, and
    // nothing is ever saved). For tools that only look at a group.
    bool read(const std::string& path);
    // Writes the contents when the file is open (nothing otherwise, and nothing when the
    // file already holds exactly them). Throws SystemException when the file could not be
    // replaced; it then still holds its previous content.
    void save();
    // Saves and closes. The file is released also when the save throws.
    void close();
    bool isOpen() const { return _file.isOpen(); }

    // Each change below saves at once; when the save throws, the change is taken back
    // before the exception leaves.
    void addStorageFile(const std::string& path);
    // Removes the first equal path; false (nothing saved) when none is listed.
    bool removeStorageFile(const std::string& path);
    void setLastStorageID(const UniqueID& storageID);
    void setLastRecordingSectionID(uint32_t sectionID);
    // Both in one save.
    void setLastRecording(const UniqueID& storageID, uint32_t sectionID);
    // Exact comparison of the path texts.
    bool containsStorageFile(const std::string& path) const;

    // The path given to create or load.
    const std::string& path() const { return _path; }
    const std::string& version() const { return _contents.version; }
    // The identifier texts as the file holds them; the last storage's may be empty.
    const std::string& repositoryID() const { return _contents.repositoryID; }
    const std::string& lastStorageID() const { return _contents.lastStorageID; }
    uint32_t lastRecordingSectionID() const { return _contents.lastRecordingSectionID; }
    const std::vector<std::string>& storageFiles() const { return _contents.storageFiles; }

    // The identifier texts read as identifiers (either letter case); none when the text
    // is empty or no identifier.
    std::optional<UniqueID> repositoryUniqueID() const;
    std::optional<UniqueID> lastStorageUniqueID() const;

    // The file text of the current contents.
    std::string text() const;

    // Called at each step of opening and replacing the file; for crash tests.
    void setStepHook(ExclusiveFile::StepHook hook) { _file.setStepHook(std::move(hook)); }

private:
    struct Contents {
        std::string version;
        std::string repositoryID;
        std::string lastStorageID;
        uint32_t lastRecordingSectionID = 0;
        std::vector<std::string> storageFiles;
    };

    // close(), with a failing final save traced instead of thrown.
    void closeQuietly();
    static std::string textOf(const Contents& contents);
    // False when `bytes` is no valid group file.
    static bool parse(const std::string& bytes, Contents& contents);
    // Applies a change, saves it, and takes it back when the save throws.
    template <typename Change>
    void change(Change apply);

    std::string _path;
    Contents _contents;
    ExclusiveFile _file;
    // The exact bytes the open file holds, so that a save of unchanged contents costs no
    // write and no barrier.
    std::string _fileText;
};
