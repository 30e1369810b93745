// A whole storage file image (superblock, free list, journal, track pages), as damage or
// a foreign writer might leave it: opened read-only and checked, opened for writing
// (journal replay, correction, recovery), read through a result set frame by frame, and
// recorded on. Nothing may crash, hang or read outside a page; a damaged file is either
// repaired or refused.
//
// Seeds: small recorded storages (fuzz/corpus/storage_image), written by
// write_storage_fuzz_seeds.

#include <cstddef>
#include <cstdint>

#include "support/StorageImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    StorageImage::exercise(StorageImage::writeFile(data, size));
    return 0;
}
