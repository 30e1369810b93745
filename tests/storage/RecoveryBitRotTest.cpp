#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TrackFixture.h"
#include "base/TarsilException.h"
#include "storage/EventElement.h"
#include "storage/Recorder.h"
#include "storage/ResultSet.h"
#include "storage/util/StorageChecker.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// A recording on every data track: video frames of up to two thirds of a page, text-in
// and events, closed cleanly.
std::string recorded(const TempDir& dir) {
    std::string path = formattedRealStorage(dir, "pristine.strg", 40);
    FixedSizeFileStorage storage;
    EXPECT_TRUE(storage.open(path.c_str()));
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    for (uint64_t n = 0; n < 90; ++n) {
        if (n % 9 == 8) {
            MediaElement text;
            std::string line = "line " + std::to_string(n);
            text.setMediaType(TimelineLinkedElement::TextIn);
            text.setChannelMask(BitMask32(1));
            text.setTime(T0.plusSeconds(static_cast<int>(n)));
            text.setDataLength(static_cast<uint32_t>(line.size() + 1));
            text.setPayload(reinterpret_cast<const uint8_t*>(line.c_str()));
            recorder.write(text);
            EventElement event = eventWithID(text.mediaID());
            storage.writeEvent(event, false);
            continue;
        }
        std::vector<uint8_t> bytes = payloadOf(n, n % 6 == 0 ? TestPageSize * 2 / 3 : 900);
        MediaElement frame = videoFrame(0x1, static_cast<uint32_t>(n / 6), static_cast<uint16_t>(n % 6),
                                        T0.plusSeconds(static_cast<int>(n)), bytes);
        frame.setParam64(n);
        recorder.write(frame);
    }
    recorder.detach();
    storage.setInfo("LastVideoID", "89", true);
    storage.close(true);
    return path;
}

void patch(const std::string& path, uint64_t offset, const std::vector<char>& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

char byteAt(const std::string& path, uint64_t offset) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    file.read(&c, 1);
    return c;
}

// Every frame a result set hands out is whole, with its own bytes, in rising ID order.
std::string readBackProblems(Storage& storage) {
    std::ostringstream out;
    ResultSet rs;
    if (!rs.initToBegin(&storage, false)) {
        return "";
    }
    ResultSet::Elements elements;
    PagePosition at;
    uint64_t last = 0;
    for (int guard = 0; guard < 100000 && rs.next(BitMask32(0xFFFFFFFF), elements, at); ++guard) {
        for (const TimelineElement& e : elements) {
            if (e.mediaID() <= last) {
                out << "ID " << e.mediaID() << " after " << last << "\n";
            }
            last = e.mediaID();
            if (e.mediaType() != TimelineLinkedElement::Video) {
                continue;
            }
            MediaElement header;
            const uint8_t* parts[2];
            uint32_t lengths[2];
            if (!rs.readFrame(e, header, parts, lengths)) {
                continue;  // lost with a damaged page: reported, not returned
            }
            std::vector<uint8_t> bytes(parts[0], parts[0] + lengths[0]);
            if (lengths[1] > 0) {
                bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
            }
            if (header.mediaID() != e.mediaID() ||
                bytes != payloadOf(header.param64(), static_cast<uint32_t>(bytes.size()))) {
                out << "frame " << e.mediaID() << " reads back other bytes\n";
            }
        }
    }
    return out.str();
}

// Opens the damaged copy for writing: it must be corrected (then sound, with what it
// kept reading back) or refused as corrupted; nothing else, and never a crash.
std::string openDamaged(const std::string& path, bool& corrected) {
    corrected = false;
    FixedSizeFileStorage storage;
    bool opened = false;
    try {
        opened = storage.open(path.c_str());
    } catch (const TarsilException& e) {
        // A journal or free list that does not match the track list stops the open.
        storage.close(false);
        return e.errorCode() == 4 ? "" : "open threw " + e.describe();
    } catch (const Exception& e) {
        storage.close(false);
        return "open threw " + e.describe();
    }
    if (!opened) {
        storage.close(false);  // the handles stay open after a refused open
        return "";
    }
    if (storage.isReadOnly()) {
        storage.close(false);
        return "opened read-only";
    }
    corrected = true;
    std::string problems;
    StorageChecker checker(storage);
    checker.check();
    for (const StorageChecker::Finding& f : checker.findings()) {
        problems += "after correction: " + f.text + "\n";
    }
    try {
        problems += readBackProblems(storage);
    } catch (const Exception& e) {
        problems += "reading threw " + e.describe() + "\n";
    }
    storage.close(false);
    return problems;
}

}  // namespace

// Bytes of pages of every track are flipped or zeroed, or the file is cut short inside
// them. Every open either corrects the storage, which is then sound and reads back what
// it kept with the right bytes, or refuses it as corrupted.
TEST(RecoveryBitRot, DamagedPagesOfEveryTrackAreCorrectedOrRefusedNeverCrash) {
    TempDir dir;
    std::string pristine = recorded(dir);
    std::string work = dir.file("work.strg");
    std::vector<std::pair<std::string, uint32_t>> pages;
    uint32_t pageSize = TestPageSize;
    uint64_t firstPageOffset = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(pristine.c_str()));
        firstPageOffset = storage.superBlock().firstPageOffset();
        for (const TrackListItem& item : storage.tracks()) {
            for (uint32_t page : pagesOf(storage, item.type())) {
                pages.emplace_back(textOf(item.type()), page);
            }
        }
        storage.close(false);
    }
    ASSERT_GT(pages.size(), 20u);
    std::mt19937 random(7);
    uint32_t runs = 0;
    uint32_t corrected = 0;
    uint32_t failures = 0;
    uint64_t flipped = 0;
    for (const auto& [type, page] : pages) {
        uint64_t start = firstPageOffset + uint64_t(page - 1) * pageSize;
        std::vector<std::pair<std::string, std::function<void()>>> damages = {
            {"flip a header byte",
             [&, start] {
                 uint64_t at = start + random() % 0x50;
                 flipped = at - start;
                 patch(work, at, {static_cast<char>(byteAt(work, at) ^ (1 << (random() % 8)))});
             }},
            {"flip an element byte",
             [&, start] {
                 uint64_t at = start + 128 + random() % 64;
                 patch(work, at, {static_cast<char>(byteAt(work, at) ^ 0x40)});
             }},
            {"zero the header sector", [&, start] { patch(work, start, std::vector<char>(512, 0)); }},
            {"zero the page", [&, start] { patch(work, start, std::vector<char>(pageSize, 0)); }},
            {"cut the file short", [&, start] { std::filesystem::resize_file(work, start + 300); }},
        };
        for (auto& [what, damage] : damages) {
            if (what == "flip an element byte" && type == "MDEA") {
                continue;  // a frame header's bytes are the frame's own: nothing tells them wrong
            }
            copyFile(pristine, work);
            flipped = 0;
            damage();
            bool fixed = false;
            std::string problems = openDamaged(work, fixed);
            ++runs;
            corrected += fixed ? 1 : 0;
            if (!problems.empty() && ++failures <= 5) {
                ADD_FAILURE() << type << " page " << page << ", " << what
                              << (flipped != 0 ? " at header byte " + std::to_string(flipped) : std::string()) << ":\n"
                              << problems;
            }
            // The correction's own work survives a second open unchanged.
            if (fixed && problems.empty()) {
                std::string again = openDamaged(work, fixed);
                EXPECT_TRUE(again.empty() && fixed) << type << " page " << page << ", " << what
                                                    << ", opened again:\n" << again;
            }
        }
    }
    std::printf("bit rot: %u damaged copies of %zu pages, %u corrected, %u refused\n", runs, pages.size(),
                corrected, runs - corrected);
    EXPECT_GT(corrected, runs / 3);
}
