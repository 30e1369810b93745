#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "StorageFixture.h"
#include "base/IOException.h"
#include "base/TarsilException.h"

namespace {

// What a track looks like on disk: its pages in order and the IDs at both ends.
struct Shape {
    std::vector<uint32_t> pages;
    uint64_t firstID = 0;
    uint64_t lastID = 0;
    bool operator==(const Shape& other) const {
        return pages == other.pages && firstID == other.firstID && lastID == other.lastID;
    }
};

std::string describe(const Shape& shape) {
    std::string text = "pages";
    for (uint32_t page : shape.pages) {
        text += " " + std::to_string(page);
    }
    return text + " ids " + std::to_string(shape.firstID) + ".." + std::to_string(shape.lastID);
}

Shape shapeOf(Storage& storage) {
    Shape shape;
    shape.pages = pagesOf(storage, PageType::Timeline);
    if (!shape.pages.empty()) {
        Page page(storage.superBlock(), storage.pageCache());
        page.loadForRead(shape.pages.front());
        shape.firstID = page.firstItemID();
        page.loadForRead(shape.pages.back());
        shape.lastID = page.lastItemID();
    }
    return shape;
}

// One transaction kind: how the storage is prepared, and the change under test.
struct Kind {
    const char* name;
    std::function<void(Storage&)> setup;
    std::function<void(Storage&)> change;
};

void threePages(Storage& storage) {
    writeIDs(storage, PageType::Timeline, 1, PerPage * 2 + PerPage / 2);
    storage.flush();
}

std::vector<Kind> kinds() {
    return {
        {"page join",
         [](Storage& s) {
             writeIDs(s, PageType::Timeline, 1, PerPage);
             s.flush();
         },
         [](Storage& s) {
             writeIDs(s, PageType::Timeline, PerPage + 1, PerPage + 3);
             s.flush();
         }},
        {"rollback", threePages, [](Storage& s) { s.track(PageType::Timeline)->rollbackAfter(10); }},
        {"overwrite", threePages, [](Storage& s) { s.track(PageType::Timeline)->overwrite(PerPage + 5); }},
        {"track deletion", threePages, [](Storage& s) { s.track(PageType::Timeline)->removeAll(); }},
    };
}

// A prepared storage file for one kind, with the shapes before and after its change.
struct Prepared {
    std::string base;
    std::string work;
    Shape before;
    Shape after;
    uint64_t writes = 0;
};

Prepared prepare(const TempDir& dir, const Kind& kind) {
    Prepared p;
    p.base = formattedStorage(dir, "base.strg", 32);
    p.work = dir.file("work.strg");
    {
        TestStorage storage;
        EXPECT_TRUE(storage.open(p.base.c_str()));
        kind.setup(storage);
        p.before = shapeOf(storage);
        EXPECT_TRUE(storage.close(true));
    }
    copyFile(p.base, p.work);
    {
        TestStorage storage;
        EXPECT_TRUE(storage.open(p.work.c_str()));
        {
            PlanScope scope;
            kind.change(storage);
            p.writes = scope.plan.writeCount();
        }
        p.after = shapeOf(storage);
        storage.close(false);
    }
    EXPECT_FALSE(p.before == p.after) << kind.name << ": the change changes nothing";
    return p;
}

// Reopens the file as a crash or failure left it: it opens, replays its journal, and
// holds the change completely or not at all.
void expectCompleteOrAbsent(const Prepared& p, const std::string& what) {
    TestStorage storage;
    bool opened = false;
    try {
        opened = storage.open(p.work.c_str());
    } catch (const Exception& e) {
        ADD_FAILURE() << what << ": reopen threw " << e.describe();
        return;
    }
    ASSERT_TRUE(opened) << what;
    EXPECT_TRUE(storage.transactionHandler()->isJournalEmpty()) << what;
    EXPECT_EQ(inconsistencies(storage), "") << what;
    Shape now = shapeOf(storage);
    EXPECT_TRUE(now == p.before || now == p.after)
        << what << ": " << describe(now) << ", before " << describe(p.before) << ", after "
        << describe(p.after) << "\n"
        << logText(storage);
    storage.close(false);
}

}  // namespace

TEST(StorageCrash, PowerCutAtEveryWriteOfEachTransactionKindLeavesItCompleteOrAbsent) {
    uint32_t seeds = crashSeeds();
    uint64_t total = 0;
    for (const Kind& kind : kinds()) {
        TempDir dir;
        Prepared p = prepare(dir, kind);
        ASSERT_GT(p.writes, 0u) << kind.name;
        for (uint64_t cut = 1; cut <= p.writes; ++cut) {
            for (uint32_t seed = 0; seed < seeds; ++seed) {
                copyFile(p.base, p.work);
                {
                    TestStorage storage;
                    ASSERT_TRUE(storage.open(p.work.c_str()));
                    PlanScope scope;
                    scope.plan.cutPowerAtWrite(cut, seed);
                    try {
                        kind.change(storage);
                    } catch (const Exception&) {
                        // Whatever the change reports after the cut, the disk decides.
                    }
                    storage.close(false);
                }
                expectCompleteOrAbsent(p, std::string(kind.name) + " cut at write " + std::to_string(cut) +
                                              " seed " + std::to_string(seed));
                ++total;
            }
        }
        std::printf("%s: %llu writes, %u seeds each\n", kind.name, static_cast<unsigned long long>(p.writes),
                    seeds);
    }
    std::printf("power cuts run: %llu\n", static_cast<unsigned long long>(total));
}

TEST(StorageCrash, IOErrorAtEveryWriteReachesTheCallerAndTheNextOpenRepairs) {
    struct Fault {
        const char* name;
        std::function<void(FaultPlan&, uint64_t)> plan;
    };
    std::vector<Fault> faults = {
        {"EIO", [](FaultPlan& f, uint64_t n) { f.failWrite(n, EIO); }},
        {"ENOSPC", [](FaultPlan& f, uint64_t n) { f.failWrite(n, ENOSPC); }},
        {"short write", [](FaultPlan& f, uint64_t n) { f.shortWrite(n); }},
    };
    uint64_t total = 0;
    for (const Kind& kind : kinds()) {
        TempDir dir;
        Prepared p = prepare(dir, kind);
        for (const Fault& fault : faults) {
            for (uint64_t n = 1; n <= p.writes; ++n) {
                copyFile(p.base, p.work);
                std::string what =
                    std::string(kind.name) + " " + fault.name + " at write " + std::to_string(n);
                {
                    TestStorage storage;
                    ASSERT_TRUE(storage.open(p.work.c_str()));
                    {
                        PlanScope scope;
                        fault.plan(scope.plan, n);
                        EXPECT_THROW(kind.change(storage), IOException) << what;
                    }
                    storage.close(true);  // must not crash; the result may be false
                    EXPECT_FALSE(storage.isOpen()) << what;
                }
                expectCompleteOrAbsent(p, what);
                ++total;
            }
        }
    }
    std::printf("I/O faults run: %llu\n", static_cast<unsigned long long>(total));
}

// Pages join their track in batches, each batch's journal carrying the batch before it
// (no barrier made that one durable yet), and a flush ends it. The power goes at every
// write, several seeds each: after the replay the track ends after a whole batch, never
// inside one (a batch carried into an unfinished journal is undone with it).
TEST(StorageCrash, PowerCutAtEveryWriteOfCarriedPageJoinsEndsTheTrackAfterAWholeBatch) {
    constexpr int Batches = 4;
    auto change = [](Storage& storage, std::vector<std::vector<uint32_t>>* shapes) {
        uint64_t next = PerPage + 2;
        for (int batch = 0; batch < Batches; ++batch) {
            // Two pages fill; each is written when the next one begins.
            writeIDs(storage, PageType::Timeline, next, next + 2 * PerPage - 1);
            next += 2 * PerPage;
            storage.joinPendingPages();
            if (shapes != nullptr) {
                shapes->push_back(pagesOf(storage, PageType::Timeline));
            }
        }
        storage.flush();
        if (shapes != nullptr) {
            shapes->push_back(pagesOf(storage, PageType::Timeline));
        }
    };
    TempDir dir;
    std::string base = formattedStorage(dir, "base.strg", 32);
    std::string work = dir.file("work.strg");
    std::vector<std::vector<uint32_t>> shapes;
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(base.c_str()));
        writeIDs(storage, PageType::Timeline, 1, PerPage + 1);
        storage.flush();
        shapes.push_back(pagesOf(storage, PageType::Timeline));
        storage.close(true);
    }
    uint64_t writes = 0;
    uint64_t barriers = 0;
    copyFile(base, work);
    {
        TestStorage storage;
        ASSERT_TRUE(storage.open(work.c_str()));
        PlanScope scope;
        change(storage, &shapes);
        writes = scope.plan.writeCount();
        barriers = scope.plan.barrierCount();
        storage.close(false);
    }
    ASSERT_EQ(shapes.size(), size_t(Batches + 2));
    for (size_t i = 1; i < shapes.size(); ++i) {
        ASSERT_GT(shapes[i].size(), shapes[i - 1].size()) << "batch " << i << " joins no page";
    }
    uint32_t seeds = crashSeeds();
    uint64_t total = 0;
    // At a write the write is lost; at a barrier, whatever was written since the last one
    // (a journal carrying its predecessor's records among them) may or may not be kept.
    for (uint64_t cut = 1; cut <= writes + barriers; ++cut) {
        bool atBarrier = cut > writes;
        uint64_t point = atBarrier ? cut - writes : cut;
        for (uint32_t seed = 0; seed < seeds; ++seed) {
            copyFile(base, work);
            {
                TestStorage storage;
                ASSERT_TRUE(storage.open(work.c_str()));
                PlanScope scope;
                if (atBarrier) {
                    scope.plan.cutPowerAtBarrier(point, seed);
                } else {
                    scope.plan.cutPowerAtWrite(point, seed);
                }
                try {
                    change(storage, nullptr);
                } catch (const Exception&) {
                }
                storage.close(false);
            }
            std::string what = std::string("cut at ") + (atBarrier ? "barrier " : "write ") +
                               std::to_string(point) + " seed " + std::to_string(seed);
            TestStorage storage;
            ASSERT_TRUE(storage.open(work.c_str())) << what;
            EXPECT_EQ(inconsistencies(storage), "") << what;
            std::vector<uint32_t> pages = pagesOf(storage, PageType::Timeline);
            EXPECT_TRUE(std::find(shapes.begin(), shapes.end(), pages) != shapes.end())
                << what << ": the track has " << pages.size() << " pages\n"
                << logText(storage);
            storage.close(false);
            ++total;
        }
    }
    std::printf("carried page joins: %llu writes and %llu barriers, %u seeds each, %llu power cuts run\n",
                static_cast<unsigned long long>(writes), static_cast<unsigned long long>(barriers), seeds,
                static_cast<unsigned long long>(total));
}
