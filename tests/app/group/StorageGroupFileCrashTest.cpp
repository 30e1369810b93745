#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "GroupFileTestFiles.h"
#include "TempDir.h"
#include "base/ExclusiveFile.h"
#include "app/group/StorageGroupFile.h"
#include "base/WinFile.h"

namespace {

using Step = ExclusiveFile::Step;
using Files = std::vector<std::string>;

// QUILLFEN_LONG_SWEEPS=1 repeats the save sweep over many group sizes.
int sweepRounds() {
    const char* value = std::getenv("QUILLFEN_LONG_SWEEPS");
    return value != nullptr && value[0] == '1' ? 40 : 2;
}

// The file text of a group of SITE_ID listing `files`, built without saving each change.
std::string textListing(const TempDir& dir, const Files& files) {
    std::string path = dir.file("model.strgx");
    std::filesystem::remove(path);
    StorageGroupFile model;
    EXPECT_TRUE(model.create(path, UniqueID(SITE_ID)));
    for (const auto& file : files) {
        model.addStorageFile(file);  // not loaded: changes the object only
    }
    return model.text();
}

// The steps `run` passes after `prepare`, and the index of the rename among them.
std::vector<Step> stepsOf(const std::function<void(StorageGroupFile&)>& prepare,
                          const std::function<void(StorageGroupFile&)>& run, size_t& renamed) {
    StorageGroupFile group;
    prepare(group);
    std::vector<Step> steps;
    group.setStepHook([&](Step step) { steps.push_back(step); });
    run(group);
    renamed = std::find(steps.begin(), steps.end(), Step::Renamed) - steps.begin();
    EXPECT_LT(renamed, steps.size());
    return steps;
}

// Holds the child at the `index`th step it passes.
ExclusiveFile::StepHook holdAtStep(size_t index) {
    auto seen = std::make_shared<size_t>(0);
    return [seen, index](Step) {
        if ((*seen)++ == index) {
            ChildProcess::hold(static_cast<int>(index));
        }
    };
}

}  // namespace

TEST(StorageGroupFileCrash, SaveKilledAtEveryStepLeavesTheOldOrTheNewFileHeldUntilTheKill) {
    TempDir dry;
    size_t renamed = 0;
    std::vector<Step> steps = stepsOf(
        [&](StorageGroupFile& group) {
            ASSERT_TRUE(group.create(dry.file("g.strgx"), UniqueID(SITE_ID)));
            ASSERT_TRUE(group.load(dry.file("g.strgx")));
        },
        [](StorageGroupFile& group) { group.addStorageFile("a.strg"); }, renamed);

    int cuts = 0;
    for (int round = 0; round < sweepRounds(); ++round) {
        // Even rounds make the file longer, odd rounds shorter.
        bool grow = round % 2 == 0;
        Files before;
        for (int i = 0; i <= round * 5; ++i) {
            before.push_back("/srv/archive/Cam " + std::to_string(i) + ".strg");
        }
        Files after = before;
        grow ? after.push_back("/srv/archive/new.strg") : (void)after.erase(after.begin());

        for (size_t cut = 0; cut < steps.size(); ++cut, ++cuts) {
            TempDir dir;
            std::string path = dir.file("Cam.strgx");
            std::string oldText = textListing(dir, before);
            std::string newText = textListing(dir, after);
            writeFile(path, oldText);

            ChildProcess child([&] {
                StorageGroupFile group;
                if (!group.load(path)) {
                    return 2;
                }
                group.setStepHook(holdAtStep(cut));
                grow ? group.addStorageFile("/srv/archive/new.strg")
                     : (void)group.removeStorageFile(before[0]);
                return 0;
            });
            ASSERT_EQ(child.waitForReport(), static_cast<int>(cut)) << "cut " << cut << " not reached";
            // Held at this step, the file is still the child's alone.
            EXPECT_TRUE(WinFile::isLocked(path.c_str())) << "cut " << cut;
            EXPECT_FALSE(StorageGroupFile().load(path)) << "cut " << cut;
            child.kill();

            bool done = cut >= renamed;
            EXPECT_EQ(readFile(path), done ? newText : oldText) << "cut " << cut;
            StorageGroupFile group;
            ASSERT_TRUE(group.load(path)) << "cut " << cut;
            Files expected = done ? after : before;
            EXPECT_EQ(group.storageFiles(), expected) << "cut " << cut;
            // Whatever the crash left beside the file does not stand in the way.
            group.addStorageFile("/srv/archive/later.strg");
            expected.push_back("/srv/archive/later.strg");
            group.close();
            EXPECT_FALSE(std::filesystem::exists(ExclusiveFile::temporaryPathOf(path))) << "cut " << cut;
            ASSERT_TRUE(group.load(path));
            EXPECT_EQ(group.storageFiles(), expected) << "cut " << cut;
        }
    }
    std::printf("save killed at %d cuts (%zu steps)\n", cuts, steps.size());
}

TEST(StorageGroupFileCrash, CreateKilledAtEveryStepLeavesNoFileOrTheCompleteOne) {
    TempDir dry;
    size_t renamed = 0;
    std::vector<Step> steps = stepsOf(
        [](StorageGroupFile&) {},
        [&](StorageGroupFile& group) { ASSERT_TRUE(group.create(dry.file("g.strgx"), UniqueID(SITE_ID))); },
        renamed);

    for (size_t cut = 0; cut < steps.size(); ++cut) {
        TempDir dir;
        std::string path = dir.file("Cam.strgx");
        ChildProcess child([&] {
            StorageGroupFile group;
            group.setStepHook(holdAtStep(cut));
            return group.create(path, UniqueID(SITE_ID)) ? 0 : 2;
        });
        ASSERT_EQ(child.waitForReport(), static_cast<int>(cut)) << "cut " << cut << " not reached";
        child.kill();

        StorageGroupFile group;
        EXPECT_EQ(std::filesystem::exists(path), cut >= renamed) << "cut " << cut;
        EXPECT_EQ(group.create(path, UniqueID(SITE_ID)), cut < renamed) << "cut " << cut;
        EXPECT_EQ(readFile(path), newGroupText()) << "cut " << cut;
        EXPECT_TRUE(group.load(path)) << "cut " << cut;
    }
    std::printf("create killed at %zu cuts\n", steps.size());
}

TEST(StorageGroupFileCrash, ALoaderThatOpenedTheFileBeforeAReplaceCannotTakeOverTheReplacedOne) {
    TempDir dir;
    std::string path = dir.file("Cam.strgx");
    ASSERT_TRUE(StorageGroupFile().create(path, UniqueID(SITE_ID)));
    auto loader = [&] {
        ChildProcess::hold(0);
        StorageGroupFile group;
        bool first = true;
        group.setStepHook([&](Step step) {
            if (step == Step::Opened && first) {
                first = false;
                ChildProcess::hold(1);  // open, not yet locked
            }
        });
        return group.load(path) ? 1 : 0;
    };
    // Both children start before the holder loads, so they share none of its locks.
    ChildProcess child(loader);
    ChildProcess later(loader);
    ASSERT_EQ(child.waitForReport(), 0);
    ASSERT_EQ(later.waitForReport(), 0);
    StorageGroupFile holder;
    ASSERT_TRUE(holder.load(path));
    child.resume();
    ASSERT_EQ(child.waitForReport(), 1) << "the loader never opened the file";
    // The replace releases the file the loader has open; the path names a new one.
    holder.addStorageFile("a.strg");
    child.resume();
    EXPECT_EQ(child.wait(), 0) << "the loader took over the group while another process held it";
    EXPECT_TRUE(WinFile::isLocked(path.c_str()));

    // Once the holder lets go, the same loader gets the group.
    later.resume();
    ASSERT_EQ(later.waitForReport(), 1);
    holder.close();
    later.resume();
    EXPECT_EQ(later.wait(), 1);
}

TEST(StorageGroupFileCrash, LeftoverTemporaryFilesDoNotDisturbLoadOrSave) {
    TempDir dir;
    std::string path = dir.file("Cam.strgx");
    std::string temporary = ExclusiveFile::temporaryPathOf(path);
    StorageGroupFile group;
    ASSERT_TRUE(group.create(path, UniqueID(SITE_ID)));
    // A long, half-written new file: nothing of its tail may survive.
    std::string leftover = newGroupText() + std::string(100000, 'x');
    writeFile(temporary, leftover);
    ASSERT_TRUE(group.load(path));
    EXPECT_FALSE(std::filesystem::exists(temporary));  // tidied up by the new holder

    writeFile(temporary, leftover);  // one that appears while the group is held is reused
    group.addStorageFile("a.strg");
    EXPECT_EQ(readFile(path), group.text());
    EXPECT_FALSE(std::filesystem::exists(temporary));
    group.close();

    // A create meets a leftover of its own interrupted attempt.
    std::string fresh = dir.file("New.strgx");
    writeFile(ExclusiveFile::temporaryPathOf(fresh), "{ \"Magic\" : \"Storage");
    ASSERT_TRUE(group.create(fresh, UniqueID(SITE_ID)));
    EXPECT_EQ(readFile(fresh), newGroupText());
    EXPECT_FALSE(std::filesystem::exists(ExclusiveFile::temporaryPathOf(fresh)));
}
