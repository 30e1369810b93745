// Journal records as a crash might leave them: the input becomes the records of the
// journal page of a small recorded storage (its first byte the record count, the next two
// the offset of the last record, little-endian), which the next writable open decodes, tests against the
// disk and undoes or keeps, before the correction runs. Any record layout, count or
// offset, including ones pointing past the page, must end in a repaired storage or a
// refused one, never a crash.
//
// Seeds: journals of real changes (a page join, a roll back, an overwrite, a track
// deletion) in fuzz/corpus/journal_records, written by write_storage_fuzz_seeds.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/Exception.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/pager/Page.h"
#include "storage/pager/TrackListItem.h"
#include "support/StorageImage.h"

namespace {

const std::vector<uint8_t>& image() {
    static const std::vector<uint8_t> bytes = StorageImage::recorded(24, 30);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    std::string path = StorageImage::writeFile(image().data(), image().size());
    {
        // The records go in through a read-only storage's view of the journal page, so
        // nothing else of the file changes.
        FixedSizeFileStorage storage;
        storage.setReadOnly(true);
        try {
            if (!storage.open(path.c_str())) {
                return 0;
            }
        } catch (const Exception&) {
            return 0;
        }
        TrackListItem journal;
        if (!storage.findTrack(PageType::Journal, journal)) {
            storage.close(false);
            return 0;
        }
        uint32_t number = journal.firstPage();
        storage.close(false);
        uint64_t start = 8192 + uint64_t(number - 1) * StorageImage::PageSize;
        std::vector<uint8_t> bytes = image();
        size_t room = StorageImage::PageSize - Page::IndexData;
        size_t length = std::min(size - 3, room);
        std::memcpy(bytes.data() + start + Page::IndexData, data + 3, length);
        // Header fields; storages this system formats are little-endian.
        auto put = [&](uint32_t offset, uint32_t value) {
            for (int i = 0; i < 4; ++i) {
                bytes[start + offset + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        };
        put(0x14, data[0]);
        put(0x18, Page::IndexData);
        put(0x1C, uint32_t(data[1]) | uint32_t(data[2]) << 8);
        path = StorageImage::writeFile(bytes.data(), bytes.size());
    }
    StorageImage::exercise(path);
    return 0;
}
