#include "storage/StorageMigratorV3.h"

#include "base/SystemException.h"
#include "storage/Storage.h"
#include "storage/aio/AIOContext.h"
#include "storage/pager/Page.h"

bool StorageMigratorV3::migrate(Storage& storage) {
    SuperBlock& superBlock = storage.superBlock();
    if (superBlock.version() != 2) {
        return false;
    }
    uint32_t legacy = superBlock.freePageNumber();
    if (!superBlock.hasTrack(PageType::FreePageList) && legacy != 0) {
        if (!superBlock.isPageNumber(legacy)) {
            return false;
        }
        Page page(superBlock, storage.pageCache());
        page.loadHeaderForWrite(legacy);
        if (!page.type().equals(PageType::FreePageList)) {
            return false;
        }
        superBlock.registerTrack(PageType::FreePageList, BitMask32(0xFFFFFFFF), legacy, page.checksum());
        storage.reloadTrackRegistry();
    }
    superBlock.setVersion(3);
    superBlock.save();
    // Crash guard: the next change journals itself in the new version; the migrated
    // track list must not be lost behind it.
    AIOContext::instance().barrier(superBlock.writeHandle());
    return true;
}
