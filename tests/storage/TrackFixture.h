#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "StorageFixture.h"
#include "storage/MediaElement.h"
#include "storage/MediaTrack.h"
#include "storage/RecordingTable.h"
#include "storage/StorageUtility.h"
#include "storage/TextInElement.h"
#include "storage/Timeline.h"
#include "storage/TimelineElement.h"

// Formats a storage with the standard tracks (`pages` pages of `pageSize`).
inline std::string formattedRealStorage(const TempDir& dir, const std::string& name, uint32_t pages = 64,
                                        uint32_t pageSize = TestPageSize) {
    std::string path = dir.file(name);
    File::create(path.c_str(), 8192 + uint64_t(pageSize) * pages);
    FixedSizeFileStorage storage;
    storage.open(path.c_str());
    FormatOptions options;
    options.pageSize = pageSize;
    options.recorderType = RecorderType::Flac;
    storage.format(options);
    storage.close(true);
    return path;
}

// The bytes of a test frame: a function of its ordinal, so a read-back can be checked.
inline std::vector<uint8_t> payloadOf(uint64_t ordinal, uint32_t size) {
    std::vector<uint8_t> bytes(size);
    uint64_t x = ordinal * 0x9E3779B97F4A7C15ull + 1;
    for (uint32_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        bytes[i] = static_cast<uint8_t>(x);
    }
    return bytes;
}

inline MediaElement videoFrame(uint32_t mask, uint32_t key, uint16_t index, const DateTime& time,
                               const std::vector<uint8_t>& payload) {
    MediaElement e;
    e.setMediaType(TimelineLinkedElement::Video);
    e.setChannelMask(BitMask32(mask));
    e.setSyncKeyID(key);
    e.setSyncIndex(index);
    e.setTime(time);
    e.setDataLength(static_cast<uint32_t>(payload.size()));
    e.setPayload(payload.data());
    return e;
}

// Reads a media element and its payload at a position, following the payload into the
// next page when it continues there. False when the position holds no whole element.
inline bool readMedia(Storage& storage, const PagePosition& position, MediaElement& header,
                      std::vector<uint8_t>& payload) {
    MediaTrack* media = storage.mediaTrack();
    Page page(storage.superBlock(), storage.pageCache());
    if (media == nullptr || !media->read(page, position, header)) {
        return false;
    }
    uint32_t pageSize = storage.pageSize();
    uint32_t size = static_cast<uint32_t>(header.dataSize());
    payload.assign(size, 0);
    uint32_t here = std::min<uint32_t>(size, pageSize - position.offset - 64);
    std::memcpy(payload.data(), page.data() + position.offset + 64, here);
    if (here < size) {
        uint32_t next = page.next();
        if (next == 0 || !storage.superBlock().isPageNumber(next)) {
            return false;
        }
        uint32_t checksum = page.nextChecksum();
        page.load(next, true);
        if (page.checksum() != checksum || page.firstItemOffset() != 128 + (size - here)) {
            return false;
        }
        std::memcpy(payload.data() + here, page.data() + 128, size - here);
    }
    return true;
}

// Every timeline entry from the first, in order.
inline std::vector<std::pair<PagePosition, TimelineElement>> timelineEntries(Storage& storage) {
    std::vector<std::pair<PagePosition, TimelineElement>> out;
    Timeline* timeline = storage.timeline();
    PagePosition at = StorageUtility(storage).firstPosition(PageType::Timeline);
    Page page(storage.superBlock(), storage.pageCache());
    TimelineElement entry;
    for (bool ok = at.isSet() && timeline->read(page, at, entry); ok; ok = timeline->next(page, at, entry)) {
        out.emplace_back(at, entry);
    }
    return out;
}
