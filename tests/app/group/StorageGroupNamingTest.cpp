#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/group/StorageFileEntry.h"
#include "app/group/StorageGroupNaming.h"

TEST(StorageGroupNaming, NamesTheFilesOfANewGroupAfterTheSite) {
    EXPECT_EQ(StorageGroupNaming::groupFileName("Cam"), "Cam.strgx");
    std::vector<std::string> paths = StorageGroupNaming::storageFilePaths("/arch/", "Cam", 10);
    ASSERT_EQ(paths.size(), 10u);
    EXPECT_EQ(paths.front(), "/arch/Cam 1.strg");
    EXPECT_EQ(paths.back(), "/arch/Cam 10.strg");
    EXPECT_EQ(StorageGroupNaming::storageFilePaths("/arch", "Front Door", 1),
              std::vector<std::string>{"/arch/Front Door 1.strg"});
    EXPECT_TRUE(StorageGroupNaming::storageFilePaths("/arch", "Cam", 0).empty());
}

TEST(StorageFileEntry, StatusTextsAndUnknownForAnyOtherValue) {
    EXPECT_STREQ(StorageFileEntry::statusText(0), "Unknown");
    EXPECT_STREQ(StorageFileEntry::statusText(1), "Good");
    EXPECT_STREQ(StorageFileEntry::statusText(2), "Not Formatted");
    EXPECT_STREQ(StorageFileEntry::statusText(3), "Not Found");
    EXPECT_STREQ(StorageFileEntry::statusText(4), "Open Error");
    EXPECT_STREQ(StorageFileEntry::statusText(5), "Unknown");
    EXPECT_STREQ(StorageFileEntry::statusText(-1), "Unknown");

    StorageFileEntry entry(3, "/arch/Cam 1.strg");
    EXPECT_EQ(entry.status(), StorageFileEntry::Unknown);
    entry.setStatus(StorageFileEntry::NotFormatted);
    EXPECT_STREQ(entry.statusText(), "Not Formatted");
    EXPECT_EQ(entry.key(), 3);
}
