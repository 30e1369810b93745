#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "GroupFileTestFiles.h"
#include "TempDir.h"
#include "app/group/ExclusiveFile.h"
#include "app/group/StorageGroupFile.h"
#include "base/SystemException.h"
#include "base/TextOf.h"
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
    EXPECT_EQ(group.repositoryID(), SITE_ID);
    EXPECT_EQ(group.version(), "1");
    EXPECT_FALSE(std::filesystem::exists(ExclusiveFile::temporaryPathOf(path)));

    writeFile(path, "someone else's");
    EXPECT_FALSE(group.create(path, UniqueID(SITE_ID)));
    EXPECT_EQ(readFile(path), "someone else's");
    EXPECT_THROW(group.create(dir.file("missing/Cam.strgx"), UniqueID(SITE_ID)), SystemException);
}

TEST(StorageGroupFile, LoadsAMinimalFileAsAGroupWithoutStorages) {
    TempDir dir;
    std::string path = dir.file("g.strgx");
    writeFile(path, groupText(std::string("\t\"Version\" : \"1\",\n\t\"RepositoryID\" : \"") + SITE_ID +
                              "\",\n\t\"LastRecordingSectionID\" : \"0\""));
    StorageGroupFile group;
    ASSERT_TRUE(group.load(path));
    EXPECT_TRUE(group.isOpen());
    EXPECT_TRUE(group.storageFiles().empty());
    EXPECT_EQ(group.lastStorageID(), "");
    EXPECT_FALSE(group.lastStorageUniqueID().has_value());
    ASSERT_TRUE(group.repositoryUniqueID().has_value());
    EXPECT_TRUE(group.repositoryUniqueID()->equals(UniqueID(SITE_ID)));
    EXPECT_EQ(group.lastRecordingSectionID(), 0u);
}

TEST(StorageGroupFile, RefusesFilesThatAreNoValidGroupAndLeavesThemUnheld) {
    TempDir dir;
    std::string id = std::string("\t\"RepositoryID\" : \"") + SITE_ID + "\",\n";
    std::string section = "\t\"LastRecordingSectionID\" : \"3\"";
    std::vector<std::string> invalid = {
        "{\n\t\"Magic\" : \"StorageGroupFil\",\n\t\"Version\" : \"1\",\n" + id + section + "\n}",
        groupText("\t\"Version\" : \"\",\n" + id + section),
        groupText("\t\"Version\" : \"1\",\n" + section),
        groupText("\t\"Version\" : \"1\",\n" + id + "\t\"LastStorageID\" : \"\""),
        groupText("\t\"Version\" : [\"1\"],\n" + id + section),
        "[\"StorageGroupFile\"]",
        groupText("\t\"Version\" : \"1\",\n" + id + section).substr(1),
        "",
    };
    for (const auto& text : invalid) {
        std::string path = dir.file("g.strgx");
        writeFile(path, text);
        StorageGroupFile group;
        EXPECT_FALSE(group.load(path)) << text;
        EXPECT_FALSE(group.isOpen());
        EXPECT_FALSE(WinFile::isLocked(path.c_str()));
        EXPECT_EQ(group.repositoryID(), "");
        EXPECT_EQ(readFile(path), text);
    }
    StorageGroupFile group;
    EXPECT_FALSE(group.load(dir.file("missing.strgx")));
    EXPECT_FALSE(group.load(dir.file("no-folder/g.strgx")));
    EXPECT_FALSE(group.load(dir.path().string()));
}

TEST(StorageGroupFile, ReadsTheSectionAsLeadingDecimalDigits) {
    TempDir dir;
    std::string path = dir.file("g.strgx");
    std::string head = std::string("\t\"Version\" : \"1\",\n\t\"RepositoryID\" : \"") + SITE_ID + "\",\n";
    struct Case {
        std::string value;
        uint32_t section;
    };
    for (const Case& c : std::vector<Case>{{"\"12abc\"", 12},
                                           {"\"abc\"", 0},
                                           {"\"-5\"", 0},
                                           {"\"4294967295\"", 4294967295u},
                                           {"\"99999999999\"", std::numeric_limits<uint32_t>::max()},
                                           {"7", 7}}) {
        writeFile(path, groupText(head + "\t\"LastRecordingSectionID\" : " + c.value));
        StorageGroupFile group;
        ASSERT_TRUE(group.load(path)) << c.value;
        EXPECT_EQ(group.lastRecordingSectionID(), c.section) << c.value;
    }
}

TEST(StorageGroupFile, EveryChangeIsSavedAtOnceInTheFileLayout) {
    TempDir dir;
    std::string path = makeGroup(dir);
    StorageGroupFile group;
    ASSERT_TRUE(group.load(path));
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
    EXPECT_FALSE(WinFile::isLocked(path.c_str()));

    StorageGroupFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.storageFiles(), (Files{"/srv/\"q\"/Cam 2.strg", "C:\\Arch\\Cam 1.strg"}));
    EXPECT_EQ(again.lastRecordingSectionID(), 4294967295u);
    ASSERT_TRUE(again.lastStorageUniqueID().has_value());
    EXPECT_TRUE(again.lastStorageUniqueID()->equals(UniqueID(STORAGE_ID)));
    EXPECT_EQ(readFile(path), again.text());
}

TEST(StorageGroupFile, AnUnchangedSaveLeavesTheFileAloneAndAHandWrittenOneIsRewrittenOnClose) {
    TempDir dir;
    std::string path = makeGroup(dir);
    ino_t created = inodeOf(path);
    {
        StorageGroupFile group;
        ASSERT_TRUE(group.load(path));
        group.setLastRecordingSectionID(0);
        group.save();
    }
    EXPECT_EQ(inodeOf(path), created);

    std::string handWritten = "// edited\n" + newGroupText() + "\n";
    writeFile(path, handWritten);
    StorageGroupFile group;
    ASSERT_TRUE(group.load(path));
    EXPECT_EQ(readFile(path), handWritten);
    group.close();
    EXPECT_EQ(readFile(path), newGroupText());
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
    EXPECT_EQ(group.path(), link);
}
