#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Storage files for the storage fuzz targets: a small recorded storage (4 KiB pages, a
// few video frames spilling into the next page, text-in and events) as bytes, a private
// file to put an image in, and the way a station and a reader use an opened file.
namespace StorageImage {

constexpr uint32_t PageSize = 4096;

// The bytes of a freshly recorded, cleanly closed storage of `pages` pages.
std::vector<uint8_t> recorded(uint32_t pages, uint32_t frames);
// A file of this process holding `bytes`; the same path every call.
std::string writeFile(const uint8_t* data, size_t size);
// Opens read-only (the check), then for writing (correction and recovery), reads every
// element through a result set with its frame or text, and records a few frames more.
// Engine exceptions are expected answers to damaged input; anything else aborts.
void exercise(const std::string& path);

}  // namespace StorageImage
