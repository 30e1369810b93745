#pragma once

#include <functional>
#include <memory>
#include <string>

class WinFile;

// A small file that one holder at a time keeps open and whose content is only ever
// replaced whole: the group file of a storage group.
//
// While open, the holder's descriptor carries a write lock over the whole file, of the
// kind WinFile's unshared open takes, so WinFile::isLocked and every other opener, in
// this process or another, see the file as held and cannot open it.
//
// A replacement never writes into the file in place. It writes a temporary file beside it
// (the path followed by ".tmp"), makes that durable, renames it over the path and makes
// the directory durable, so a crash or a power cut at any moment leaves the path holding
// the old content or the new, never a mix. The temporary is locked before it is written,
// so the path names a file the holder has locked at every moment of a replacement; and an
// opener counts its lock only when the path still names the file it locked, since a lock
// taken on a file just renamed away holds nothing. A temporary left behind by a crash is
// removed when the file is next opened, and reused by a replacement before that.
//
// One thread at a time; the object owns its descriptor and releases it when destroyed.
class ExclusiveFile {
public:
    // The moments of open, create and replace at which a test can stop the process.
    enum class Step {
        Opened,            // open: a descriptor of the path exists, not yet locked
        TemporaryOpened,   // the temporary is locked, still holding whatever it held
        TemporaryWritten,  // the new content is in the temporary, not yet durable
        TemporaryDurable,  // ... and durable; the path still names the old file
        Renamed,           // the path names the new file; the old one is still held too
        DirectoryDurable,  // the rename is durable and the old file released
    };
    using StepHook = std::function<void(Step)>;

    static constexpr const char* TEMPORARY_SUFFIX = ".tmp";

    ExclusiveFile();
    ~ExclusiveFile();
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // Opens and locks an existing file. Throws SystemException: ENOENT when the file is
    // missing, EWOULDBLOCK when someone else holds it, or the failing call's error.
    void open(const std::string& path);
    // Creates `path` holding `content` and keeps it open and locked. False, with nothing
    // changed, when something exists at `path`. The file appears complete or not at all.
    // Other failures throw SystemException and leave the object closed.
    bool create(const std::string& path, const std::string& content);
    // The whole content; files larger than `limit` bytes throw SystemException (EFBIG).
    std::string readAll(size_t limit);
    // Replaces the whole content, as described above. Requires an open file. A failure
    // before the rename leaves the old content and throws SystemException; a failure to
    // make the rename durable throws after the new content is in place.
    void replace(const std::string& content);
    // Releases the file; false when the system reported an error on closing.
    bool close();

    bool isOpen() const;
    // The path as given to open or create.
    const std::string& path() const { return _path; }

    static std::string temporaryPathOf(const std::string& path);

    // Called at each Step; for tests that crash or hold the process there.
    void setStepHook(StepHook hook) { _hook = std::move(hook); }

private:
    // Opens `path` for reading and writing and locks it, retrying while the path turns
    // out to name another file than the one locked. With `create`, a missing file is made.
    std::unique_ptr<WinFile> openLocked(const std::string& path, bool create, bool announce);
    // The new file, locked, with `content` durable in it.
    std::unique_ptr<WinFile> writeTemporary(const std::string& temporary, const std::string& content);
    // Removes a temporary that an interrupted replacement left beside the held file.
    void discardLeftover();
    // Makes the directory entry of the last rename durable, after the old file is released.
    void adopt(std::unique_ptr<WinFile> next);
    void step(Step reached);

    std::unique_ptr<WinFile> _file;
    std::string _path;
    // The file the path resolves to: symbolic links are followed, so a replacement
    // renames over the real file and leaves the link in place.
    std::string _target;
    StepHook _hook;
};
