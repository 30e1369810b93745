#pragma once

#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PagerFixture.h"
#include "TempDir.h"
#include "base/File.h"
#include "base/SystemException.h"
#include "base/TextOf.h"
#include "storage/EventElement.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/Track.h"
#include "storage/pager/Page.h"
#include "storage/pager/TrackListItem.h"

// A fixed-size data track of any type with 64-byte elements whose front can be
// overwritten: enough to drive the storage's page, overwrite and rollback paths.
class TestTrack : public Track {
public:
    explicit TestTrack(const PageType& type) : Track(type, 64) {}
    std::unique_ptr<IRecordable> newElement() const override { return std::make_unique<EventElement>(); }
    bool overwrite(uint64_t before) override {
        EventElement scratch;
        return overwriteFront(before, scratch);
    }
};

// A file storage with test tracks installed for the given types.
class TestStorage : public FixedSizeFileStorage {
public:
    explicit TestStorage(std::initializer_list<const PageType*> types = {&PageType::Timeline})
        : FixedSizeFileStorage(Tracks::None) {
        for (const PageType* type : types) {
            installTrack(std::make_unique<TestTrack>(*type));
        }
    }
};

constexpr uint32_t TestPageSize = 16384;

// Creates `pages` pages' worth of file (plus the reserve) and formats it.
inline std::string formattedStorage(const TempDir& dir, const std::string& name, uint32_t pages = 64,
                                    uint32_t pageSize = TestPageSize) {
    std::string path = dir.file(name);
    File::create(path.c_str(), 8192 + uint64_t(pageSize) * pages);
    TestStorage storage;
    storage.open(path.c_str());
    FormatOptions options;
    options.pageSize = pageSize;
    options.recorderType = RecorderType::Flac;
    storage.format(options);
    storage.close(true);
    return path;
}

inline EventElement eventWithID(uint64_t id) {
    EventElement e;
    e.setMediaID(id);
    e.setChannelMask(BitMask32(1));
    return e;
}

// Writes elements with IDs first..last into the track of `type`.
inline void writeIDs(Storage& storage, const PageType& type, uint64_t first, uint64_t last) {
    for (uint64_t id = first; id <= last; ++id) {
        EventElement e = eventWithID(id);
        storage.track(type)->write(e);
    }
}

// Elements that fill one 16 KiB test page: (16384 - 128) / 64.
constexpr uint64_t PerPage = (TestPageSize - 128) / 64;

inline bool logHas(Storage& storage, const std::string& text) {
    for (const LogTrack::Message& m : storage.logMessages()) {
        if (m.text.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

inline std::string logText(Storage& storage) {
    std::string all;
    for (const LogTrack::Message& m : storage.logMessages()) {
        all += m.text + "\n";
    }
    return all;
}

// The page numbers of a track from its first page along the next links, as the
// superblock's track list names them; empty when the type has no track.
inline std::vector<uint32_t> pagesOf(Storage& storage, const PageType& type, std::string* problem = nullptr) {
    std::vector<uint32_t> pages;
    TrackListItem item;
    if (!storage.superBlock().findTrack(type, item)) {
        return pages;
    }
    SuperBlock& sb = storage.superBlock();
    Page page(sb, storage.pageCache());
    uint32_t number = item.firstPage();
    uint32_t checksum = item.firstPageChecksum();
    for (uint32_t steps = 0; steps <= sb.pageCount(); ++steps) {
        std::ostringstream why;
        if (!sb.isPageNumber(number)) {
            why << textOf(type) << ": page " << number << " outside the file";
        } else {
            page.loadForRead(number);
            if (!page.type().equals(type) || page.checksum() != checksum ||
                page.superChecksum() != sb.checksum()) {
                why << textOf(type) << ": page " << number << " does not carry its link (type "
                    << textOf(page.type()) << ")";
            }
        }
        if (!why.str().empty()) {
            if (problem != nullptr) {
                *problem += why.str() + "\n";
            }
            return pages;
        }
        pages.push_back(number);
        if (number == item.lastPage()) {
            if (page.checksum() != item.lastPageChecksum() && problem != nullptr) {
                *problem += textOf(type) + ": last page checksum differs\n";
            }
            return pages;
        }
        checksum = page.nextChecksum();
        number = page.next();
    }
    if (problem != nullptr) {
        *problem += textOf(type) + ": chain does not end\n";
    }
    return pages;
}

// What a storage's track list, free list and pages say about each other: every track's
// chain is intact and no page is both free and in a track, or in two tracks. Empty
// when they agree, and every page is either free or in a track.
inline std::string inconsistencies(FixedSizeFileStorage& storage) {
    // Pages written and waiting to join their tracks belong to them already.
    storage.joinPendingPages();
    std::string problem;
    std::set<uint32_t> used;
    SuperBlock& sb = storage.superBlock();
    uint32_t count = sb.trackCount();
    for (uint32_t i = 0; i < count; ++i) {
        TrackListItem item;
        sb.trackAt(i, item);
        for (uint32_t page : pagesOf(storage, item.type(), &problem)) {
            if (!used.insert(page).second) {
                problem += "page " + std::to_string(page) + " is in two tracks\n";
            }
            if (storage.allocator().consumable(page) || storage.allocator().isListed(page)) {
                problem += textOf(item.type()) + ": page " + std::to_string(page) + " is also free\n";
            }
        }
    }
    uint32_t free = storage.allocator().freePageCount();
    if (used.size() + free != sb.pageCount()) {
        problem +=
            std::to_string(sb.pageCount() - used.size() - free) + " pages are neither free nor in a track\n";
    }
    return problem;
}

inline void copyFile(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Number of cut seeds per cut point: QUILLFEN_CRASH_SEEDS raises it for long sweeps.
inline uint32_t crashSeeds() {
    const char* text = std::getenv("QUILLFEN_CRASH_SEEDS");
    int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? static_cast<uint32_t>(n) : 10;
}
