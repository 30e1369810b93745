#pragma once

#include <filesystem>
#include <string>

// Where the station keeps its data: the configuration database app.db, which holds
// recorder passwords, and the files that go with it. The folder follows the XDG rule
// ($XDG_DATA_HOME/quillfen, by default ~/.local/share/quillfen) unless the user names
// another one (--data-dir). The folder is private to its owner when the station creates
// it. Stateless; safe from any thread.
class DataDirectory {
public:
    static constexpr const char* DATABASE_FILE = "app.db";

    // `chosen` when it is not empty; otherwise $XDG_DATA_HOME/quillfen when that variable
    // holds an absolute path (the XDG rule ignores relative ones), otherwise
    // $HOME/.local/share/quillfen, with the home folder of the user's account when HOME
    // is unset. Throws SystemException (ENOENT) when no home folder can be found.
    static std::filesystem::path resolve(const std::string& chosen = "");

    // Makes sure `dir` is a directory the station can write into, creating it and any
    // missing parents with mode 0700. Throws SystemException with the system's reason
    // (ENOTDIR, EACCES, EROFS, ...) when it cannot.
    static void prepare(const std::filesystem::path& dir);

    // Where new storage groups go: `chosen` when it is not empty, otherwise the folder
    // "OLVIK Quill Fen Storages" in the user's documents folder ($XDG_DOCUMENTS_DIR when it
    // is absolute, else $HOME/Documents).
    static std::filesystem::path storageFolder(const std::string& chosen = "");

    // The files of a running station inside its data directory: the lock that makes it the
    // only one, the note of where it listens, and its access token.
    static constexpr const char* LOCK_FILE = "station.lock";
    static constexpr const char* STATE_FILE = "station.json";
    static constexpr const char* TOKEN_FILE = "token";

    // The path of app.db inside `dir`.
    static std::filesystem::path databasePath(const std::filesystem::path& dir);
};
