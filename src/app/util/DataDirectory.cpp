#include "app/util/DataDirectory.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/SystemException.h"

namespace {

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    throw SystemException(QF_HERE, ENOENT);
}

// Creates one directory level with mode 0700; an existing directory is fine.
void makeDirectory(const std::filesystem::path& dir) {
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
        return;
    }
    throw SystemException(QF_HERE, errno);
}

}  // namespace

std::filesystem::path DataDirectory::resolve(const std::string& chosen) {
    if (!chosen.empty()) {
        return chosen;
    }
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::filesystem::path(dataHome) / "quillfen";
    }
    return homeFolder() / ".local" / "share" / "quillfen";
}

std::filesystem::path DataDirectory::storageFolder(const std::string& chosen) {
    if (!chosen.empty()) {
        return chosen;
    }
    const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
    std::filesystem::path folder =
        documents != nullptr && documents[0] == '/' ? std::filesystem::path(documents) : homeFolder() / "Documents";
    return folder / "OLVIK Quill Fen Storages";
}

void DataDirectory::prepare(const std::filesystem::path& dir) {
    std::filesystem::path partial;
    for (const std::filesystem::path& part : dir) {
        partial /= part;
        if (partial == partial.root_path() || part.empty()) {
            continue;
        }
        makeDirectory(partial);
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        throw SystemException(QF_HERE, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        throw SystemException(QF_HERE, ENOTDIR);
    }
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        throw SystemException(QF_HERE, errno);
    }
}

std::filesystem::path DataDirectory::databasePath(const std::filesystem::path& dir) {
    return dir / DATABASE_FILE;
}
