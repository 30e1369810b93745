#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "GroupFileTestFiles.h"
#include "TempDir.h"
#include "base/ExclusiveFile.h"
#include "app/group/StorageGroupFile.h"
#include "base/SystemException.h"
#include "base/WinFile.h"

namespace {

using Files = std::vector<std::string>;

std::string makeGroup(const TempDir& dir, const std::string& name = "Cam.strgx") {
    std::string path = dir.file(name);
    StorageGroupFile group;
    EXPECT_TRUE(group.create(path, UniqueID(SITE_ID)));
    return path;
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_ino;
}

// A group file with the magic and then `members`.
std::string groupText(const std::string& members) {
    return "{\n\t\"Magic\" : \"StorageGroupFile\",\n" + members + "\n}";
}

}  // namespace

TEST(StorageGroupFile, CreateWritesANewGroupClosedAndNeverTouchesAnExistingFile) {
    TempDir dir;
    std::string path = dir.file("Cam.strgx");
    StorageGroupFile group;
    ASSERT_TRUE(group.create(path, UniqueID("6B29FC40-CA47-1067-B31D-00DD010662DA")));
    EXPECT_EQ(readFile(path), newGroupText());
    EXPECT_FALSE(group.isOpen());
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));
    EXPECT_FALSE(std::filesystem::exists(ExclusiveFile::temporaryPathOf(path)));

    writeFile(path, "someone else's");
    EXPECT_FALSE(group.create(path, UniqueID(SITE_ID)));
    EXPECT_EQ(readFile(path), "someone else's");
    EXPECT_THROW(group.create(dir.file("missing/Cam.strgx"), UniqueID(SITE_ID)), SystemException);
}

TEST(StorageGroupFile, LoadChecksMagicAndTheThreeRequiredValuesAndNothingElse) {
    TempDir dir;
    std::string path = dir.file("g.strgx");
    std::string version = "\t\"Version\" : \"1\",\n";
    std::string id = std::string("\t\"RepositoryID\" : \"") + SITE_ID + "\",\n";
    auto withSection = [&](const std::string& value) {
        return groupText(version + id + "\t\"LastRecordingSectionID\" : " + value);
    };
    // Neither LastStorageID nor StorageFiles is needed; the section is its leading digits.
    struct Valid {
        std::string text;
        uint32_t section;
    };
    for (const Valid& valid : std::vector<Valid>{{withSection("\"0\""), 0},
                                                 {withSection("\"12abc\""), 12},
                                                 {withSection("\"abc\""), 0},
                                                 {withSection("\"-5\""), 0},
                                                 {withSection("\"99999999999\""), 4294967295u},
                                                 {withSection("7"), 7}}) {
        writeFile(path, valid.text);
        StorageGroupFile group;
        ASSERT_TRUE(group.load(path)) << valid.text;
        EXPECT_TRUE(group.isOpen());
        EXPECT_EQ(group.lastRecordingSectionID(), valid.section) << valid.text;
        EXPECT_TRUE(group.storageFiles().empty());
        EXPECT_FALSE(group.lastStorageUniqueID().has_value());
        ASSERT_TRUE(group.repositoryUniqueID().has_value());
        EXPECT_TRUE(group.repositoryUniqueID()->equals(UniqueID(SITE_ID)));
    }

    std::string section = "\t\"LastRecordingSectionID\" : \"3\"";
    for (const std::string& text :
         {"{\n\t\"Magic\" : \"StorageGroupFil\",\n" + version + id + section + "\n}",
          groupText("\t\"Version\" : \"\",\n" + id + section),
          groupText("\t\"Version\" : [\"1\"],\n" + id + section), groupText(version + section),
          groupText(version + id + "\t\"Other\" : \"\""), std::string("[\"StorageGroupFile\"]"),
          withSection("\"1\"").substr(1), std::string("")}) {
        writeFile(path, text);
        StorageGroupFile group;
        EXPECT_FALSE(group.load(path)) << text;
        EXPECT_FALSE(WinFile::isLocked(path.c_str()));
        EXPECT_EQ(group.repositoryID(), "");
        EXPECT_EQ(readFile(path), text);
    }
    StorageGroupFile group;
    EXPECT_FALSE(group.load(dir.file("missing.strgx")));
    EXPECT_FALSE(group.load(dir.file("no-folder/g.strgx")));
    EXPECT_FALSE(group.load(dir.path().string()));
}

TEST(StorageGroupFile, EveryChangeIsSavedAtOnceInTheFileLayoutAndReadBackUnchanged) {
    TempDir dir;
    std::string path = makeGroup(dir);
    StorageGroupFile group;
    ASSERT_TRUE(group.load(path));
    ino_t created = inodeOf(path);
    group.setLastRecordingSectionID(0);  // no change: the file stays as it is
    EXPECT_EQ(inodeOf(path), created);

    group.addStorageFile("C:\\Arch\\Cam 1.strg");
    group.addStorageFile("/srv/\"q\"/Cam 2.strg");
    group.addStorageFile("C:\\Arch\\Cam 1.strg");
    group.setLastStorageID(UniqueID(STORAGE_ID));
    group.setLastRecordingSectionID(4294967295u);
    EXPECT_EQ(readFile(path), std::string("{\n"
                                          "\t\"Magic\" : \"StorageGroupFile\",\n"
                                          "\t\"Version\" : \"1\",\n"
                                          "\t\"RepositoryID\" : \"") +
                                  SITE_ID + "\",\n\t\"LastStorageID\" : \"" + STORAGE_ID +
                                  "\",\n"
                                  "\t\"LastRecordingSectionID\" : \"4294967295\",\n"
                                  "\t\"StorageFiles\" : [\n"
                                  "\t\t\"C:\\\\Arch\\\\Cam 1.strg\",\n"
                                  "\t\t\"\\/srv\\/\\\"q\\\"\\/Cam 2.strg\",\n"
                                  "\t\t\"C:\\\\Arch\\\\Cam 1.strg\"\n"
                                  "\t]\n"
                                  "}");

    EXPECT_TRUE(group.removeStorageFile("C:\\Arch\\Cam 1.strg"));  // the first of the two
    EXPECT_FALSE(group.removeStorageFile("c:\\arch\\cam 1.strg"));
    EXPECT_TRUE(group.containsStorageFile("C:\\Arch\\Cam 1.strg"));
    EXPECT_FALSE(group.containsStorageFile("C:\\Arch\\Cam 1.strg "));
    group.close();

    StorageGroupFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.storageFiles(), (Files{"/srv/\"q\"/Cam 2.strg", "C:\\Arch\\Cam 1.strg"}));
    EXPECT_EQ(again.lastRecordingSectionID(), 4294967295u);
    EXPECT_TRUE(again.lastStorageUniqueID()->equals(UniqueID(STORAGE_ID)));

    // A file edited by hand loads as it is and is written in the layout on close.
    again.close();
    std::string handWritten = "// edited\n" + readFile(path) + "\n";
    writeFile(path, handWritten);
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(readFile(path), handWritten);
    std::string layout = again.text();
    again.close();
    EXPECT_EQ(readFile(path), layout);
}

TEST(StorageGroupFile, ALoadedFileIsHeldAgainstEveryOtherLoaderUntilClosed) {
    TempDir dir;
    std::string path = makeGroup(dir);
    StorageGroupFile second;
    {
        StorageGroupFile first;
        ASSERT_TRUE(first.load(path));
        EXPECT_TRUE(WinFile::isLocked(path.c_str()));
        EXPECT_FALSE(second.load(path));
        first.addStorageFile("a.strg");  // the replaced file is held as well
        EXPECT_TRUE(WinFile::isLocked(path.c_str()));
        EXPECT_FALSE(second.load(path));
        first.close();
        ASSERT_TRUE(second.load(path));
        EXPECT_FALSE(first.load(path));
        second.close();
        ASSERT_TRUE(first.load(path));
    }  // destroyed while loaded
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));
    EXPECT_TRUE(second.load(path));
    EXPECT_EQ(second.storageFiles(), Files{"a.strg"});
}

TEST(StorageGroupFile, AFailedSaveTakesTheChangeBackAndKeepsTheFile) {
    TempDir dir;
    std::string path = makeGroup(dir);
    StorageGroupFile group;
    ASSERT_TRUE(group.load(path));
    group.addStorageFile("a.strg");
    std::string before = readFile(path);

    // Something that cannot be written stands where the new file is built.
    std::string temporary = ExclusiveFile::temporaryPathOf(path);
    std::filesystem::create_directory(temporary);
    EXPECT_THROW(group.addStorageFile("b.strg"), SystemException);
    EXPECT_THROW(group.setLastRecordingSectionID(9), SystemException);
    EXPECT_THROW(group.removeStorageFile("a.strg"), SystemException);
    EXPECT_EQ(group.storageFiles(), Files{"a.strg"});
    EXPECT_EQ(group.lastRecordingSectionID(), 0u);
    EXPECT_EQ(readFile(path), before);
    EXPECT_TRUE(WinFile::isLocked(path.c_str()));

    std::filesystem::remove(temporary);
    group.addStorageFile("b.strg");
    EXPECT_EQ(readFile(path), group.text());
    EXPECT_EQ(group.storageFiles(), (Files{"a.strg", "b.strg"}));
}

TEST(StorageGroupFile, AGroupFileBehindALinkIsReplacedBehindTheLink) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "real");
    std::string real = makeGroup(dir, "real/Cam.strgx");
    std::string link = dir.file("Cam.strgx");
    std::filesystem::create_symlink(real, link);

    StorageGroupFile group;
    ASSERT_TRUE(group.load(link));
    group.addStorageFile("a.strg");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(real), group.text());
    EXPECT_TRUE(WinFile::isLocked(real.c_str()));
}
