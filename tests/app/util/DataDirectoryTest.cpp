#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "TempDir.h"
#include "app/util/DataDirectory.h"
#include "base/SystemException.h"

namespace {

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : _name(name) {
        if (const char* old = std::getenv(name)) {
            _old = old;
        }
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { _old ? ::setenv(_name, _old->c_str(), 1) : ::unsetenv(_name); }

private:
    const char* _name;
    std::optional<std::string> _old;
};

mode_t modeOf(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

}  // namespace

TEST(DataDirectory, ChosenFolderWinsThenAbsoluteXdgDataHomeThenHome) {
    ScopedEnv home("HOME", "/home/ann");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/data/xdg");
        EXPECT_EQ(DataDirectory::resolve("/srv/qf"), "/srv/qf");
        EXPECT_EQ(DataDirectory::resolve(), "/data/xdg/quillfen");
    }
    {
        // The XDG rule ignores a relative XDG_DATA_HOME.
        ScopedEnv xdg("XDG_DATA_HOME", "relative/xdg");
        EXPECT_EQ(DataDirectory::resolve(), "/home/ann/.local/share/quillfen");
    }
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(DataDirectory::resolve(), "/home/ann/.local/share/quillfen");
    EXPECT_EQ(DataDirectory::databasePath("/srv/qf"), "/srv/qf/app.db");
}

TEST(DataDirectory, PrepareCreatesMissingFoldersPrivateAndKeepsExistingOnes) {
    TempDir dir;
    std::filesystem::path data = dir.path() / "share" / "quillfen";
    DataDirectory::prepare(data);
    EXPECT_TRUE(std::filesystem::is_directory(data));
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_EQ(modeOf(dir.path() / "share"), 0700u);

    std::filesystem::permissions(data, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
    std::ofstream(data / "app.db") << "kept";
    DataDirectory::prepare(data.string() + "/");
    EXPECT_EQ(modeOf(data), 0750u);
    EXPECT_TRUE(std::filesystem::exists(data / "app.db"));
}

TEST(DataDirectory, PrepareReportsWhyAPathCannotHoldTheData) {
    TempDir dir;
    std::ofstream(dir.file("file")) << "x";
    try {
        DataDirectory::prepare(dir.path() / "file");
        FAIL() << "a plain file was accepted";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.errorCode(), ENOTDIR);
    }
    try {
        DataDirectory::prepare(dir.path() / "file" / "below");
        FAIL() << "a folder below a plain file was accepted";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.errorCode(), ENOTDIR);
    }
}
