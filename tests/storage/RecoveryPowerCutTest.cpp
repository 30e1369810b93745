#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "CrashSweep.h"
#include "TrackFixture.h"
#include "storage/Recorder.h"
#include "storage/ResultSet.h"
#include "storage/util/StorageChecker.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// The frames of the workload: per dozen, five video frames on each of two channels in a
// key group of their own (the key frame more than half a page, so frames spill into the
// next page), an audio frame and a text-in line. Payloads follow from the ordinal.
struct Frame {
    uint16_t type = TimelineLinkedElement::Video;
    uint32_t mask = 1;
    uint32_t key = 0;
    uint16_t index = 0;
    DateTime time;
    uint32_t size = 0;
};

Frame frameAt(uint64_t n) {
    Frame f;
    uint32_t slot = static_cast<uint32_t>(n % 12);
    f.time = T0.plusSeconds(static_cast<int>(n / 4));
    f.key = static_cast<uint32_t>(n / 12);
    if (slot < 10) {
        f.mask = slot % 2 == 0 ? 1 : 2;
        f.index = static_cast<uint16_t>(slot / 2);
        f.size = f.index == 0 ? 9000 + static_cast<uint32_t>(n % 7) * 300 : 700 + static_cast<uint32_t>(n % 5) * 500;
    } else if (slot == 10) {
        f.type = TimelineLinkedElement::Audio;
        f.size = 320;
    } else {
        f.type = TimelineLinkedElement::TextIn;
    }
    return f;
}

std::string textOfFrame(uint64_t n) {
    return "text-in " + std::to_string(n);
}

// What the test knows of every frame written: its ID, and whether the timeline took it.
struct Written {
    uint64_t ordinal;
    uint64_t mediaID;
    Frame frame;
};

// Records frames through the recorder and keeps the model of what was written and what a
// completed flush made durable.
struct Workload {
    explicit Workload(Storage& s) : storage(s) { recorder.attach(&storage, 0, false); }
    ~Workload() { recorder.detach(); }

    void write(uint64_t n) {
        Frame f = frameAt(n);
        std::vector<uint8_t> bytes;
        MediaElement e;
        if (f.type == TimelineLinkedElement::TextIn) {
            std::string text = textOfFrame(n);
            bytes.assign(text.begin(), text.end());
            bytes.push_back(0);
            e.setMediaType(TimelineLinkedElement::TextIn);
            e.setChannelMask(BitMask32(f.mask));
            e.setTime(f.time);
            e.setDataLength(static_cast<uint32_t>(bytes.size()));
            e.setPayload(bytes.data());
        } else {
            bytes = payloadOf(n, f.size);
            e = videoFrame(f.mask, f.key, f.index, f.time, bytes);
            e.setMediaType(f.type);
            e.setParam64(n);
        }
        PagePosition at = recorder.write(e);
        if (at.isSet()) {
            accepted.push_back(Written{n, e.mediaID(), f});
            everWritten[e.mediaID()] = accepted.back();
        }
    }
    // A flush (or roll back) makes durable only what it completed before the power went.
    void flush() {
        storage.flush();
        if (!powerIsCut()) {
            durable = accepted.size();
        }
    }
    void rollbackTo(uint64_t id) {
        storage.rollbackTo(storage.currentSectionID(), id);
        while (!accepted.empty() && accepted.back().mediaID > id) {
            accepted.pop_back();
        }
        durable = powerIsCut() ? std::min(durable, accepted.size()) : accepted.size();
    }
    void keep(const std::vector<Written>& frames) {
        accepted = frames;
        durable = frames.size();
        for (const Written& w : frames) {
            everWritten[w.mediaID] = w;
        }
    }

    Storage& storage;
    Recorder recorder;
    std::vector<Written> accepted;
    // Every frame by ID, also those a roll back gave up (a cut may come before it is done).
    std::map<uint64_t, Written> everWritten;
    size_t durable = 0;
    std::function<bool()> powerIsCut = [] { return false; };
};

constexpr uint32_t Pages = 24;
constexpr uint64_t BaseFrames = 60;
constexpr uint64_t WorkFrames = 150;

// One step of the workload per frame; some steps also write the resume info, flush or
// roll back.
void step(Workload& w, uint64_t i) {
    uint64_t n = BaseFrames + i;
    w.write(n);
    if (i % 20 == 7) {
        w.storage.setInfo("LastVideoID", std::to_string(n), false);
    }
    if (i % 30 == 29) {
        w.flush();
    }
    if (i == 75 && w.accepted.size() > 8) {
        w.rollbackTo(w.accepted[w.accepted.size() - 8].mediaID);
    }
}

struct Reference {
    std::vector<Written> base;
    uint64_t writes = 0;
    uint64_t barriers = 0;
    std::vector<uint64_t> firstAfter;  // the timeline's first ID after each step
};

std::string checkProblems(Storage& storage) {
    // inconsistencies() walks every chain and the free list; the checker's own part here
    // is what a read-only open would refuse.
    StorageChecker checker(storage);
    checker.check();
    std::string out;
    for (const StorageChecker::Finding& f : checker.findings()) {
        out += "checker: " + f.text + "\n";
    }
    return out;
}

// Runs the workload on a fresh copy of the base until the power goes at `point`; the
// model says what was written and made durable, and the timeline's first ID the step in
// progress would have left.
struct CutRun {
    std::vector<Written> written;
    std::map<uint64_t, Written> everWritten;
    size_t durable = 0;
    uint64_t firstBound = 0;
    bool cut = false;
};

// Reads the whole recording through a result set and compares it with what was written:
// every frame whole with its own bytes and ID, IDs rising, and every durable frame from
// the first surviving ID on present (video of a channel only from its first key frame).
std::string readBackProblems(FixedSizeFileStorage& storage, const CutRun& run) {
    const std::vector<Written>& written = run.written;
    size_t durable = run.durable;
    uint64_t firstBound = run.firstBound;
    std::ostringstream out;
    const std::map<uint64_t, Written>& byID = run.everWritten;
    std::set<uint64_t> read;
    ResultSet rs;
    if (rs.initToBegin(&storage, false)) {
        ResultSet::Elements elements;
        PagePosition at;
        uint64_t last = 0;
        while (rs.next(BitMask32(0xFFFFFFFF), elements, at)) {
            for (const TimelineElement& e : elements) {
                if (e.mediaID() <= last) {
                    out << "ID " << e.mediaID() << " after " << last << "\n";
                }
                last = e.mediaID();
                read.insert(e.mediaID());
                auto found = byID.find(e.mediaID());
                if (found == byID.end()) {
                    out << "ID " << e.mediaID() << " was never written\n";
                    continue;
                }
                const Written& w = found->second;
                if (e.mediaType() == TimelineLinkedElement::TextIn) {
                    TextInElement text;
                    if (!rs.readTextIn(e, text) || text.text() != textOfFrame(w.ordinal)) {
                        out << "text-in " << e.mediaID() << " does not read back\n";
                    }
                    continue;
                }
                MediaElement header;
                const uint8_t* parts[2];
                uint32_t lengths[2];
                if (!rs.readFrame(e, header, parts, lengths)) {
                    out << "frame " << e.mediaID() << " cannot be read\n";
                    continue;
                }
                std::vector<uint8_t> bytes(parts[0], parts[0] + lengths[0]);
                if (lengths[1] > 0) {
                    bytes.insert(bytes.end(), parts[1], parts[1] + lengths[1]);
                }
                if (header.param64() != w.ordinal || bytes != payloadOf(w.ordinal, w.frame.size)) {
                    out << "frame " << e.mediaID() << " is not whole or has other bytes\n";
                }
            }
        }
    }
    TimelineElement firstEntry;
    uint64_t first = StorageUtility(storage).firstItem(PageType::Timeline, firstEntry) ? firstEntry.mediaID() : ~0ull;
    if (durable > 0 && written[durable - 1].mediaID >= firstBound && first > firstBound) {
        out << "recording begins at " << first << ", beyond " << firstBound << "\n";
    }
    // An overwrite under way when the power went may or may not have given up what lies
    // below the first ID it leaves.
    uint64_t from = std::max(first, firstBound);
    std::set<uint32_t> keyed;
    for (size_t i = 0; i < durable; ++i) {
        const Written& w = written[i];
        if (w.mediaID < from) {
            continue;
        }
        if (w.frame.type == TimelineLinkedElement::Video) {
            if (w.frame.index == 0) {
                keyed.insert(w.frame.mask);
            } else if (!keyed.count(w.frame.mask)) {
                continue;
            }
        }
        if (!read.count(w.mediaID)) {
            out << "durable frame " << w.mediaID << " (ordinal " << w.ordinal << ") is gone\n";
            break;
        }
    }
    return out.str();
}

Reference prepare(const std::string& base, const std::string& work) {
    Reference ref;
    {
        FixedSizeFileStorage storage;
        EXPECT_TRUE(storage.open(base.c_str()));
        Workload w(storage);
        for (uint64_t n = 0; n < BaseFrames; ++n) {
            w.write(n);
        }
        storage.flushAll();
        ref.base = w.accepted;
        storage.close(true);
    }
    copyFile(base, work);
    FixedSizeFileStorage storage;
    EXPECT_TRUE(storage.open(work.c_str()));
    PlanScope scope;
    Workload w(storage);
    w.keep(ref.base);
    for (uint64_t i = 0; i < WorkFrames; ++i) {
        step(w, i);
        // An emptied timeline gave up everything written before.
        Timeline* timeline = storage.timeline();
        ref.firstAfter.push_back(timeline->isEmpty() ? storage.nextItemID() : timeline->firstItemID());
    }
    w.flush();
    ref.writes = scope.plan.writeCount();
    ref.barriers = scope.plan.barrierCount();
    storage.close(false);
    return ref;
}

CutRun runToCut(const std::string& base, const std::string& work, const Reference& ref, uint64_t point,
                uint32_t seed, bool atBarrier = false) {
    CutRun run;
    copyFile(base, work);
    FixedSizeFileStorage storage;
    EXPECT_TRUE(storage.open(work.c_str()));
    {
        Cut cut(point, seed, atBarrier);
        cut.arm();
        Workload w(storage);
        w.keep(ref.base);
        w.powerIsCut = [&cut] { return cut.powerWasCut(); };
        uint64_t i = 0;
        try {
            for (; i < WorkFrames && !cut.powerWasCut(); ++i) {
                step(w, i);
            }
            if (!cut.powerWasCut()) {
                w.flush();
            }
        } catch (const Exception&) {
            // The storage saw the writes fail: what the crash left is checked.
        }
        run.cut = cut.powerWasCut();
        run.written = w.accepted;
        run.everWritten = w.everWritten;
        run.durable = w.durable;
        uint64_t stepAtCut = i == 0 ? 0 : i - 1;
        run.firstBound = ref.firstAfter[std::min<uint64_t>(stepAtCut, ref.firstAfter.size() - 1)];
        storage.close(false);
    }
    return run;
}

// Opens the crashed file writable (which corrects it) and checks every guarantee.
std::string verifyAfterCrash(const std::string& work, const CutRun& run) {
    FixedSizeFileStorage storage;
    bool opened = false;
    try {
        opened = storage.open(work.c_str());
    } catch (const Exception& e) {
        return "open threw " + e.describe();
    }
    if (!opened) {
        return "open failed\n" + logText(storage);
    }
    std::string problems = checkProblems(storage) + inconsistencies(storage) +
                           readBackProblems(storage, run);
    storage.close(false);
    return problems;
}

// The sweeps write thousands of small files and let the fault plan decide what a power
// cut keeps; real barriers to a disk only slow them down, so their files live in memory
// where the system offers a memory file system.
void preferMemoryTempDir() {
    std::error_code error;
    if (std::getenv("QUILLFEN_SWEEP_ON_DISK") == nullptr && std::filesystem::is_directory("/dev/shm", error)) {
        ::setenv("TMPDIR", "/dev/shm", 1);
    }
}

// How many cuts: QUILLFEN_CUTS raises the default for long sweeps.
uint64_t wantedCuts(uint64_t byDefault) {
    const char* text = std::getenv("QUILLFEN_CUTS");
    long long n = text != nullptr ? std::atoll(text) : 0;
    return n > 0 ? static_cast<uint64_t>(n) : byDefault;
}

}  // namespace

// The power goes at every write of a recording session (page joins, overwrite of the
// oldest pages, info writes, flushes and a roll back), several seeds each deciding which
// unbarriered writes survive, kept, dropped or torn. Every time the storage opens for
// writing, the checker then finds nothing, every frame a completed flush made durable
// reads back byte for byte, later frames are whole or absent, IDs rise.
TEST(RecoveryPowerCut, EveryCutOfARecordingSessionOpensCorrectedWithEveryDurableFrame) {
    preferMemoryTempDir();
    TempDir dir;
    std::string base = formattedRealStorage(dir, "base.strg", Pages);
    std::string work = dir.file("work.strg");
    Reference ref = prepare(base, work);
    ASSERT_GT(ref.writes, 100u);
    ASSERT_GT(ref.firstAfter.back(), ref.firstAfter.front()) << "the workload does not overwrite";
    uint64_t cuts = wantedCuts(2000);
    uint32_t seeds = static_cast<uint32_t>(std::max<uint64_t>(1, (cuts + ref.writes - 1) / ref.writes));
    // Fewer cuts than writes: every kth write, so every part of the session is hit.
    uint64_t stride = std::max<uint64_t>(1, ref.writes * seeds / cuts);
    auto started = std::chrono::steady_clock::now();
    uint64_t ran = 0;
    uint32_t failures = 0;
    uint64_t onlyPoint = std::getenv("QUILLFEN_CUT_POINT") ? std::atoll(std::getenv("QUILLFEN_CUT_POINT")) : 0;
    // One cut point with every seed; `count` counts the runs the power went in.
    auto cutAt = [&](uint64_t point, bool atBarrier, uint64_t& count) {
        for (uint32_t seed = 1; seed <= seeds && failures < 5; ++seed) {
            CutRun run = runToCut(base, work, ref, point, seed, atBarrier);
            if (!run.cut) {
                continue;
            }
            ++count;
            std::string problems = verifyAfterCrash(work, run);
            if (!problems.empty()) {
                ++failures;
                ADD_FAILURE() << "cut at " << (atBarrier ? "barrier " : "write ") << point << ", seed " << seed
                              << ":\n" << problems;
            }
        }
    };
    for (uint64_t point = onlyPoint ? onlyPoint : 1; point <= ref.writes && failures < 5; point += onlyPoint ? ref.writes : stride) {
        cutAt(point, false, ran);
    }
    // At every barrier too: what was written since the one before (a journal among it) may
    // or may not be kept.
    uint64_t barrierCuts = 0;
    for (uint64_t point = 1; point <= ref.barriers && failures < 5 && onlyPoint == 0; ++point) {
        cutAt(point, true, barrierCuts);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("recording session: %llu writes, %llu barriers, %u seeds per cut point, %llu power cuts at "
                "writes and %llu at barriers in %.1f s\n",
                static_cast<unsigned long long>(ref.writes), static_cast<unsigned long long>(ref.barriers), seeds,
                static_cast<unsigned long long>(ran), static_cast<unsigned long long>(barrierCuts), seconds);
    EXPECT_GE(ran, std::min<uint64_t>(cuts, ref.writes * seeds) * 9 / 10);
}

// The power goes again while the open corrects the file an earlier cut left: at every
// write of the correction. The next open still finds a sound storage with every durable
// frame.
TEST(RecoveryPowerCut, CutsWhileCorrectingAnEarlierCutLoseNothingDurable) {
    preferMemoryTempDir();
    TempDir dir;
    std::string base = formattedRealStorage(dir, "base.strg", Pages);
    std::string work = dir.file("work.strg");
    std::string crashed = dir.file("crashed.strg");
    Reference ref = prepare(base, work);
    uint64_t points = wantedCuts(2000) / 100;
    uint64_t ran = 0;
    uint64_t correctionsWithWrites = 0;
    uint32_t failures = 0;
    for (uint64_t k = 1; k <= points && failures < 5; ++k) {
        uint64_t point = 1 + (ref.writes - 1) * k / (points + 1);
        CutRun run = runToCut(base, work, ref, point, static_cast<uint32_t>(k));
        if (!run.cut) {
            continue;
        }
        copyFile(work, crashed);
        for (uint64_t again = 1;; ++again) {
            copyFile(crashed, work);
            bool cutWhileCorrecting = false;
            {
                FixedSizeFileStorage storage;
                Cut cut(again, static_cast<uint32_t>(again), false);
                cut.arm();
                try {
                    storage.open(work.c_str());
                } catch (const Exception&) {
                }
                cutWhileCorrecting = cut.powerWasCut();
                storage.close(false);
            }
            if (!cutWhileCorrecting) {
                correctionsWithWrites += again > 1 ? 1 : 0;
                break;
            }
            ++ran;
            std::string problems = verifyAfterCrash(work, run);
            if (!problems.empty()) {
                ++failures;
                ADD_FAILURE() << "cut at write " << point << ", then at write " << again
                              << " of the correction:\n" << problems;
                break;
            }
        }
    }
    std::printf("correction: %llu power cuts during the corrections of %llu crashed files (%llu wrote)\n",
                static_cast<unsigned long long>(ran), static_cast<unsigned long long>(points),
                static_cast<unsigned long long>(correctionsWithWrites));
    EXPECT_GT(ran, points);
}
