#include "storage/transaction/JournalPageCheck.h"

#include <cstdio>
#include <cstring>

#include "base/SystemException.h"
#include "storage/pager/Page.h"
#include "storage/pager/PageType.h"
#include "storage/pager/SuperBlock.h"
#include "storage/transaction/IJournaledStorage.h"
#include "storage/transaction/JournalFormat.h"

namespace JournalPageCheck {

namespace {

// An empty "NULL" page with checksum 0: no link and no track-list entry can match it.
void clearPage(IJournaledStorage& storage, uint32_t pageNumber) {
    Page page(storage.superBlock(), storage.pageCache());
    page.init(PageType::Null, pageNumber, 0, 0, 0);
    page.setChecksum(Page::InvalidPageChecksum);
    page.save();
    page.reset();
}

}  // namespace

bool headerMatches(IJournaledStorage& storage, uint32_t pageNumber, const uint8_t* header,
                   const char* failText) {
    if (!storage.superBlock().isPageNumber(pageNumber)) {
        return false;  // a damaged record: nothing on disk can carry its effect
    }
    Page page(storage.superBlock(), storage.pageCache());
    try {
        page.loadHeaderForWrite(pageNumber);
    } catch (const SystemException& e) {
        if (storage.isReadOnly()) {
            return false;  // a reader only looks; the writable open clears the page
        }
        char line[256];
        std::snprintf(line, sizeof line, failText, messageOf(e), pageNumber);
        storage.log(line, 0, true);
        try {
            clearPage(storage, pageNumber);
        } catch (const SystemException&) {
            // The page stays unreadable; it is still not applied.
        }
        return false;
    }
    bool equal = std::memcmp(page.data(), header, JournalFormat::PageHeaderSize) == 0;
    page.reset();
    return equal;
}

}  // namespace JournalPageCheck
