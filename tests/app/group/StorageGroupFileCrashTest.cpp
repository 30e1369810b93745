#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "GroupFileTestFiles.h"
#include "TempDir.h"
#include "app/group/ExclusiveFile.h"
#include "app/group/StorageGroupFile.h"
#include "base/WinFile.h"

namespace {

using Step = ExclusiveFile::Step;
using Files = std::vector<std::string>;
constexpr auto DEADLINE = std::chrono::seconds(5);

// QUILLFEN_LONG_SWEEPS=1 repeats the sweeps over many group sizes.
int sweepRounds() {
    const char* value = std::getenv("QUILLFEN_LONG_SWEEPS");
    return value != nullptr && value[0] == '1' ? 40 : 2;
}

Files storagePaths(int count, const std::string& tag) {
    Files paths;
    for (int i = 1; i <= count; ++i) {
        paths.push_back("/srv/archive/" + tag + "/Cam " + std::to_string(i) + ".strg");
    }
    return paths;
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

// The steps one change of a loaded group passes, in order.
std::vector<Step> stepsOfOneSave(const TempDir& dir) {
    std::string path = dir.file("dry.strgx");
    StorageGroupFile group;
    EXPECT_TRUE(group.create(path, UniqueID(SITE_ID)));
    EXPECT_TRUE(group.load(path));
    std::vector<Step> steps;
    group.setStepHook([&](Step step) { steps.push_back(step); });
    group.addStorageFile("a.strg");
    return steps;
}

std::vector<Step> stepsOfOneCreate(const TempDir& dir) {
    StorageGroupFile group;
    std::vector<Step> steps;
    group.setStepHook([&](Step step) { steps.push_back(step); });
    EXPECT_TRUE(group.create(dir.file("dry-create.strgx"), UniqueID(SITE_ID)));
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

size_t firstIndexOf(const std::vector<Step>& steps, Step step) {
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i] == step) {
            return i;
        }
    }
    return steps.size();
}

}  // namespace

TEST(StorageGroupFileCrash, SaveKilledAtEveryStepLeavesTheOldOrTheNewFileHeldUntilTheKill) {
    TempDir dry;
    std::vector<Step> steps = stepsOfOneSave(dry);
    size_t renamed = firstIndexOf(steps, Step::Renamed);
    ASSERT_LT(renamed, steps.size());
    ASSERT_GT(renamed, 0u);

    int cuts = 0;
    for (int round = 0; round < sweepRounds(); ++round) {
        // Even rounds make the file longer, odd rounds shorter.
        bool grow = round % 2 == 0;
        Files before = storagePaths(round * 5 + (grow ? 0 : 1), "before");
        Files after = before;
        if (grow) {
            after.push_back("/srv/archive/new.strg");
        } else {
            after.erase(after.begin());
        }
        auto change = [&](StorageGroupFile& group) {
            if (grow) {
                group.addStorageFile("/srv/archive/new.strg");
            } else {
                group.removeStorageFile(before.front());
            }
        };
        for (size_t cut = 0; cut < steps.size(); ++cut) {
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
                change(group);
                return 0;
            });
            ASSERT_EQ(child.waitForReport(DEADLINE), static_cast<int>(cut)) << "cut " << cut << " not reached";

            // Held at this step, the file is still the child's alone.
            EXPECT_TRUE(WinFile::isLocked(path.c_str())) << "cut " << cut;
            {
                StorageGroupFile intruder;
                EXPECT_FALSE(intruder.load(path)) << "cut " << cut;
            }
            child.kill();
            ++cuts;

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
    std::vector<Step> steps = stepsOfOneCreate(dry);
    size_t renamed = firstIndexOf(steps, Step::Renamed);
    ASSERT_LT(renamed, steps.size());

    int cuts = 0;
    for (size_t cut = 0; cut < steps.size(); ++cut) {
        TempDir dir;
        std::string path = dir.file("Cam.strgx");
        ChildProcess child([&] {
            StorageGroupFile group;
            group.setStepHook(holdAtStep(cut));
            return group.create(path, UniqueID(SITE_ID)) ? 0 : 2;
        });
        ASSERT_EQ(child.waitForReport(DEADLINE), static_cast<int>(cut)) << "cut " << cut << " not reached";
        child.kill();
        ++cuts;

        StorageGroupFile group;
        if (cut >= renamed) {
            EXPECT_EQ(readFile(path), newGroupText()) << "cut " << cut;
            EXPECT_FALSE(group.create(path, UniqueID(SITE_ID)));
        } else {
            EXPECT_FALSE(std::filesystem::exists(path)) << "cut " << cut;
            ASSERT_TRUE(group.create(path, UniqueID(SITE_ID))) << "cut " << cut;
            EXPECT_EQ(readFile(path), newGroupText()) << "cut " << cut;
        }
        EXPECT_TRUE(group.load(path)) << "cut " << cut;
    }
    std::printf("create killed at %d cuts\n", cuts);
}

TEST(StorageGroupFileCrash, ALoaderThatOpenedTheFileBeforeAReplaceCannotTakeOverTheReplacedOne) {
    TempDir dir;
    std::string path = dir.file("Cam.strgx");
    {
        StorageGroupFile group;
        ASSERT_TRUE(group.create(path, UniqueID(SITE_ID)));
    }
    // The child is started before the holder loads, so it shares none of its descriptors.
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

    ChildProcess child(loader);
    ChildProcess later(loader);
    ASSERT_EQ(child.waitForReport(DEADLINE), 0);
    ASSERT_EQ(later.waitForReport(DEADLINE), 0);
    StorageGroupFile holder;
    ASSERT_TRUE(holder.load(path));
    child.resume();
    ASSERT_EQ(child.waitForReport(DEADLINE), 1) << "the loader never opened the file";
    // The replace releases the file the loader has open; the path names a new one.
    holder.addStorageFile("a.strg");
    child.resume();
    EXPECT_EQ(child.wait(), 0) << "the loader took over the group while another process held it";
    EXPECT_TRUE(WinFile::isLocked(path.c_str()));

    // Once the holder lets go, the same loader gets the group.
    later.resume();
    ASSERT_EQ(later.waitForReport(DEADLINE), 1);
    holder.close();
    later.resume();
    EXPECT_EQ(later.wait(), 1);
}

TEST(StorageGroupFileCrash, LeftoverTemporaryFilesDoNotDisturbLoadOrSave) {
    TempDir dir;
    std::string path = dir.file("Cam.strgx");
    StorageGroupFile group;
    ASSERT_TRUE(group.create(path, UniqueID(SITE_ID)));
    std::string temporary = ExclusiveFile::temporaryPathOf(path);
    // A long, half-written new file: the next save must not keep any of its tail.
    writeFile(temporary, newGroupText() + std::string(100000, 'x'));

    ASSERT_TRUE(group.load(path));
    EXPECT_FALSE(std::filesystem::exists(temporary));  // tidied up by the holder
    group.addStorageFile("a.strg");
    EXPECT_EQ(readFile(path), group.text());
    group.close();

    // A save that meets one left while the group was held reuses it.
    ASSERT_TRUE(group.load(path));
    writeFile(temporary, newGroupText() + std::string(100000, 'x'));
    group.addStorageFile("b.strg");
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
