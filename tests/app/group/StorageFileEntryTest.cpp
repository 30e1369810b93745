#include <gtest/gtest.h>

#include "app/group/StorageFileEntry.h"

TEST(StorageFileEntry, EveryStatusHasItsTextAndAnyOtherValueShowsUnknown) {
    const char* texts[] = {"Unknown", "Good", "Not Formatted", "Not Found", "Open Error"};
    for (int status = 0; status <= 4; ++status) {
        EXPECT_STREQ(StorageFileEntry::statusText(status), texts[status]);
    }
    for (int other : {-1, 5, 1000}) {
        EXPECT_STREQ(StorageFileEntry::statusText(other), "Unknown") << other;
    }
}
