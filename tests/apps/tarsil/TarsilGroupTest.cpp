#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TarsilRun.h"
#include "app/group/StorageGroupContext.h"
#include "base/File.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"

namespace {

const char* const Repository = "6b29fc40-ca47-1067-b31d-00dd010662da";

// Records `frames` small video frames into the group, one a second from `start`.
void record(const std::string& groupPath, const DateTime& start, int frames) {
    StorageGroupContext context{UniqueID(Repository)};
    ASSERT_TRUE(context.load(groupPath));
    Recorder recorder;
    recorder.attach(&context.group(), 0, false);
    std::vector<uint8_t> bytes(3000, 0x5A);
    for (int i = 0; i < frames; ++i) {
        MediaElement frame;
        frame.setChannelMask(BitMask32(0x1));
        frame.setSyncKeyID(uint32_t(i / 10));
        frame.setSyncIndex(uint16_t(i % 10));
        frame.setTime(start.plusSeconds(i));
        frame.setDataLength(uint32_t(bytes.size()));
        frame.setPayload(bytes.data());
        ASSERT_TRUE(recorder.write(frame).isSet());
    }
    recorder.detach();
    context.group().flushAll();
    context.unload();
}

}  // namespace

TEST(TarsilGroup, CreateMakesTheGroupAndItsStoragesThatInfoShowsWithoutChangingThem) {
    TempDir dir;
    std::string group = dir.file("north gate.strgx");
    std::string folder = dir.file("storages");
    std::filesystem::create_directory(folder);
    Outcome made = tarsil(dir, {"group", "create", group, "--repository", Repository, "--storages", "3", "--size",
                                "2M", "--page-size", "65536", "--dir", folder});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (int n = 1; n <= 3; ++n) {
        std::string path = folder + "/north gate " + std::to_string(n) + ".strg";
        EXPECT_EQ(File::size(path.c_str()), 2u << 20) << path;
    }
    DateTime start(2024, 5, 1, 10, 0, 0);
    record(group, start, 900);  // about 2.8 MB: the first storage fills and the second takes over
    std::vector<std::string> before = {slurp(group), slurp(folder + "/north gate 1.strg")};
    Outcome shown = tarsil(dir, {"group", "info", group, "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(slurp(group), before[0]) << "info changed the group file";
    EXPECT_EQ(slurp(folder + "/north gate 1.strg"), before[1]) << "info changed a storage";
    nlohmann::json j = nlohmann::json::parse(shown.out);
    EXPECT_EQ(j["repositoryID"], Repository);
    ASSERT_EQ(j["storages"].size(), 3u);
    uint64_t used = 0;
    for (const auto& s : j["storages"]) {
        EXPECT_EQ(s["statusText"], "Good");
        EXPECT_EQ(s["capacity"], 2u << 20);
        used += s["usedBytes"].get<uint64_t>();
    }
    EXPECT_EQ(j["capacity"], 3u * (2u << 20));
    EXPECT_EQ(j["usedBytes"], used);
    EXPECT_GT(used, 900u * 3000);
    EXPECT_FALSE(j["storages"][0]["recorded"].is_null());
    EXPECT_FALSE(j["storages"][1]["recorded"].is_null());
    EXPECT_TRUE(j["storages"][2]["recorded"].is_null());
    EXPECT_EQ(j["recorded"]["from"], "2024/05/01 10:00:00");
    EXPECT_EQ(j["recorded"]["to"], "2024/05/01 10:14:59");
    EXPECT_EQ(j["lastRecordingSectionID"], 2);
    Outcome text = tarsil(dir, {"group", "info", group});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "Recorded:         2024/05/01 10:00:00 ~ 2024/05/01 10:14:59")) << text.out;
    EXPECT_TRUE(contains(text.out, "north gate 3.strg\n      Good          used ")) << text.out;

    // Added and removed: a new storage made for the group, a listed one taken off.
    std::string extra = dir.file("extra.strg");
    Outcome added = tarsil(dir, {"group", "add", group, extra, "--size", "1M", "--page-size", "65536"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    std::string third = folder + "/north gate 3.strg";
    Outcome removed = tarsil(dir, {"group", "remove", group, third});
    ASSERT_EQ(removed.exitCode, 0) << removed.err;
    EXPECT_TRUE(File::exists(third.c_str())) << "remove deleted the file";
    nlohmann::json after = nlohmann::json::parse(tarsil(dir, {"group", "info", group, "--json"}).out);
    ASSERT_EQ(after["storages"].size(), 3u);
    EXPECT_EQ(after["storages"][2]["path"], extra);
    EXPECT_EQ(after["storages"][2]["statusText"], "Good");
    // A member that went missing or belongs elsewhere shows as such.
    std::filesystem::remove(extra);
    ASSERT_EQ(tarsil(dir, {"format", extra, "--size", "1M", "--page-size", "65536"}).exitCode, 0);
    std::filesystem::remove(folder + "/north gate 2.strg");
    nlohmann::json broken = nlohmann::json::parse(tarsil(dir, {"group", "info", group, "--json"}).out);
    EXPECT_EQ(broken["storages"][1]["statusText"], "Not Found");
    EXPECT_EQ(broken["storages"][2]["statusText"], "Not Formatted");
    EXPECT_EQ(broken["capacity"], 2u << 20);
}

TEST(TarsilGroup, BadInputGivesOneClearLineAndAFailingExit) {
    TempDir dir;
    std::string group = dir.file("g.strgx");
    ASSERT_EQ(tarsil(dir, {"group", "create", group, "--repository", Repository, "--storages", "1", "--size", "1M",
                           "--page-size", "65536"})
                  .exitCode,
              0);
    std::string member = dir.file("g 1.strg");
    std::string held = dir.file("held.strgx");
    ASSERT_EQ(tarsil(dir, {"group", "create", held, "--repository", Repository, "--storages", "1", "--size", "1M",
                           "--page-size", "65536"})
                  .exitCode,
              0);
    StorageGroupFile holder;
    ASSERT_TRUE(holder.load(held));  // held as a running schedule holds it
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    std::vector<Case> cases = {
        {{"group", "create", dir.file("a.strgx"), "--repository", "nope", "--storages", "2", "--size", "4M"},
         "is not a repository ID"},
        {{"group", "create", dir.file("a.strgx"), "--repository", Repository, "--storages", "0", "--size", "4M"},
         "--storages must be between"},
        {{"group", "create", dir.file("a.strgx"), "--repository", Repository, "--storages", "2", "--size", "lots"},
         "is not a size"},
        {{"group", "create", dir.file("a.strgx"), "--repository", Repository, "--storages", "2", "--size", "64K"},
         "is below what one storage"},
        {{"group", "create", dir.file("a.txt"), "--repository", Repository, "--storages", "2", "--size", "4M"},
         "is no group file name"},
        {{"group", "create", group, "--repository", Repository, "--storages", "2", "--size", "4M"}, "already exists"},
        {{"group", "info", dir.file("missing.strgx")}, "no such group file"},
        {{"group", "info", member}, "is not a storage group file"},
        {{"group", "add", group, dir.file("missing.strg")}, "no such storage file"},
        {{"group", "add", group, member}, "is already in"},
        {{"group", "add", group, member, "--size", "4M"}, "is already in"},
        {{"group", "add", held, dir.file("x.strg"), "--size", "4M"}, "is in use by another"},
        {{"group", "remove", group, dir.file("x.strg")}, "is not in"},
        {{"group", "remove", dir.file("missing.strgx"), member}, "no such group file"},
    };
    for (const Case& c : cases) {
        std::string before = slurp(group);
        Outcome run = tarsil(dir, c.args);
        std::string what = c.args[1] + " " + c.args.back();
        EXPECT_NE(run.exitCode, 0) << what;
        EXPECT_EQ(lines(run.err), 1) << what << ": " << run.err;
        EXPECT_TRUE(contains(run.err, c.says)) << what << ": " << run.err;
        EXPECT_EQ(slurp(group), before) << what;
    }
    EXPECT_FALSE(File::exists(dir.file("a 1.strg").c_str())) << "a failed create left a storage behind";
    EXPECT_FALSE(File::exists(dir.file("x.strg").c_str())) << "a refused add made its file";
    holder.close();
}
