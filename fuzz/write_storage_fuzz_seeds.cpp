// Writes the seed corpora of the storage fuzz targets from the engine itself (run by hand
// when the file format changes; the files are committed):
//
//     build/fuzz/fuzz/write_storage_fuzz_seeds fuzz/corpus
//
// storage_image: small recorded storages, one cleanly closed, one whose writer stopped
// without flushing. journal_records: the records of the engine's own transactions (a
// page joining a track, a roll back, an overwrite, a track deletion), as a crash leaves
// them in the journal page.

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "storage/FixedSizeFileStorage.h"
#include "storage/pager/Page.h"
#include "storage/pager/TrackListItem.h"
#include "storage/transaction/AppendFreePageIntervalTransactionLog.h"
#include "storage/transaction/AppendFreePageTransactionLog.h"
#include "storage/transaction/DeleteTrackTransactionLog.h"
#include "storage/transaction/ExtractFreePageTransactionLog.h"
#include "storage/transaction/FlushPageTransactionLog.h"
#include "storage/transaction/UpdateTrackFirstTransactionLog.h"
#include "storage/transaction/UpdateTrackLastTransactionLog.h"
#include "support/StorageImage.h"

namespace {

void save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using Records = std::vector<std::unique_ptr<TransactionLog>>;

// The fuzz input for `records`: count, offset of the last record, the encoded records.
std::vector<uint8_t> journalInput(Page& scratch, const Records& records) {
    Buffer& buffer = scratch.buffer();
    buffer.setPosition(static_cast<int>(Page::IndexData));
    uint32_t last = Page::IndexData;
    for (const auto& record : records) {
        last = static_cast<uint32_t>(buffer.position());
        record->writeTo(buffer);
    }
    uint32_t end = static_cast<uint32_t>(buffer.position());
    std::vector<uint8_t> out = {static_cast<uint8_t>(records.size()), static_cast<uint8_t>(last),
                                static_cast<uint8_t>(last >> 8)};
    out.insert(out.end(), scratch.data() + Page::IndexData, scratch.data() + end);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_storage_fuzz_seeds <corpus folder>\n");
        return 2;
    }
    std::string root = argv[1];
    std::vector<uint8_t> image = StorageImage::recorded(16, 24);
    save(root + "/storage_image/recorded", image);
    save(root + "/storage_image/recorded_small", StorageImage::recorded(6, 5));

    std::string path = StorageImage::writeFile(image.data(), image.size());
    FixedSizeFileStorage storage;
    if (!storage.open(path.c_str())) {
        std::fprintf(stderr, "write_storage_fuzz_seeds: the recorded storage does not open\n");
        return 1;
    }
    TrackListItem media;
    TrackListItem timeline;
    TrackListItem journal;
    storage.findTrack(PageType::Media, media);
    storage.findTrack(PageType::Timeline, timeline);
    storage.findTrack(PageType::Journal, journal);
    Page mediaPage(storage.superBlock(), storage.pageCache());
    mediaPage.load(media.lastPage(), true);
    Page timelinePage(storage.superBlock(), storage.pageCache());
    timelinePage.load(timeline.lastPage(), true);
    Page scratch(storage.superBlock(), storage.pageCache());
    scratch.load(journal.firstPage(), true);
    uint32_t free = storage.pageCount();  // the last page is free in a storage this small

    Records join;
    join.push_back(std::make_unique<ExtractFreePageTransactionLog>(storage, free));
    join.push_back(std::make_unique<UpdateTrackLastTransactionLog>(storage, PageType::Media, free, 0x1234567u));
    join.push_back(std::make_unique<FlushPageTransactionLog>(storage, mediaPage, false, false));
    save(root + "/journal_records/page_join", journalInput(scratch, join));

    Records rollback;
    rollback.push_back(std::make_unique<UpdateTrackLastTransactionLog>(storage, PageType::Timeline,
                                                                       timeline.lastPage(), timelinePage.checksum()));
    rollback.push_back(std::make_unique<AppendFreePageTransactionLog>(storage, media.lastPage()));
    rollback.push_back(std::make_unique<FlushPageTransactionLog>(storage, timelinePage, false, false));
    save(root + "/journal_records/rollback", journalInput(scratch, rollback));

    Records overwrite;
    overwrite.push_back(std::make_unique<UpdateTrackFirstTransactionLog>(storage, PageType::Media, media.lastPage(),
                                                                         mediaPage.checksum()));
    overwrite.push_back(std::make_unique<AppendFreePageIntervalTransactionLog>(storage, media.firstPage(),
                                                                              media.firstPage() + 1));
    overwrite.push_back(std::make_unique<FlushPageTransactionLog>(storage, mediaPage, true, false));
    save(root + "/journal_records/overwrite", journalInput(scratch, overwrite));

    Records deletion;
    deletion.push_back(std::make_unique<AppendFreePageTransactionLog>(storage, timeline.firstPage()));
    deletion.push_back(std::make_unique<DeleteTrackTransactionLog>(storage, PageType::Event));
    save(root + "/journal_records/track_deletion", journalInput(scratch, deletion));
    save(root + "/journal_records/empty", {0, 128, 0});

    scratch.discard();
    storage.close(false);
    std::printf("write_storage_fuzz_seeds: seeds written under %s\n", root.c_str());
    return 0;
}
