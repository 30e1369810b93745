#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TarsilRun.h"
#include "TempDir.h"
#include "base/File.h"
#include "storage/EventElement.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"
#include "storage/TextInElement.h"
#include "storage/aio/StorageDevice.h"

TEST(Tarsil, FormatCreatesAPreallocatedStorageThatInfoShowsWithoutChangingIt) {
    TempDir dir;
    std::string path = dir.file("archive.strg");
    Outcome made = tarsil(dir, {"format", path, "--size", "8M", "--page-size", "65536", "--repository",
                                "6b29fc40-ca47-1067-b31d-00dd010662da", "--description", "north gate"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(File::size(path.c_str()), 8u << 20);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_GE(uint64_t(st.st_blocks) * 512, 8u << 20) << "the blocks are reserved, not sparse";

    std::string before = slurp(path);
    Outcome shown = tarsil(dir, {"info", path, "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(slurp(path), before) << "info changed the file";
    nlohmann::json j = nlohmann::json::parse(shown.out);
    EXPECT_EQ(j["repositoryID"], "6b29fc40-ca47-1067-b31d-00dd010662da");
    EXPECT_EQ(j["pageSize"], 65536);
    EXPECT_EQ(j["pageCount"], 127);
    EXPECT_EQ(j["freePages"], 124);  // all but the free-list, journal and log pages
    EXPECT_EQ(j["description"], "north gate");
    EXPECT_EQ(j["journal"]["empty"], true);
    ASSERT_EQ(j["tracks"].size(), 3u);
    EXPECT_EQ(j["tracks"][1]["type"], "JNAL");
    EXPECT_TRUE(contains(j["log"].dump(), "[FORMAT-FLAC] id: 6b29fc40-ca47-1067-b31d-00dd010662da"));

    {
        // Info values written by the station show too, and a writer holding the file
        // does not keep info from reading it.
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        storage.setInfo("LastVideoID", "4711", true);
        storage.flush();
        Outcome whileHeld = tarsil(dir, {"info", path});
        EXPECT_EQ(whileHeld.exitCode, 0) << whileHeld.err;
        EXPECT_TRUE(contains(whileHeld.out, "LastVideoID = 4711")) << whileHeld.out;
        EXPECT_TRUE(contains(whileHeld.out, "Journal:          empty"));
        storage.close(true);
    }
    Outcome text = tarsil(dir, {"info", path, "--log-lines", "2"});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(contains(text.out, "Log (last 2):")) << text.out;
}

TEST(Tarsil, BadInputGivesOneClearLineAndAFailingExit) {
    TempDir dir;
    std::string zero = dir.file("zero.strg");
    File::create(zero.c_str(), 1 << 20);
    std::string existing = dir.file("held.strg");
    ASSERT_EQ(tarsil(dir, {"format", existing, "--size", "1M", "--page-size", "4096"}).exitCode, 0);
    uint64_t size = 0;
    int held = StorageDevice::openHandle(existing.c_str(), false, size);
    ASSERT_NE(held, -1);

    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    std::vector<Case> cases = {
        {{"info", dir.file("missing.strg")}, "no such file"},
        {{"info", zero}, "is not a storage file"},
        {{"format", dir.file("tiny.strg"), "--size", "64K"}, "is below what one storage"},
        {{"format", dir.file("odd.strg"), "--size", "8M", "--page-size", "5000"}, "not a multiple of 4096"},
        {{"format", dir.file("what.strg"), "--size", "lots"}, "is not a size"},
        {{"format", dir.file("id.strg"), "--size", "8M", "--repository", "nope"}, "is not a repository ID"},
        {{"format", existing, "--size", "8M"}, "is in use by another writer"},
        {{"format", zero, "--size", "8M"}, "already exists"},
    };
    for (const Case& c : cases) {
        Outcome run = tarsil(dir, c.args);
        EXPECT_NE(run.exitCode, 0) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(lines(run.err), 1) << run.err;
        EXPECT_TRUE(contains(run.err, c.says)) << run.err;
    }
    EXPECT_FALSE(File::exists(dir.file("tiny.strg").c_str()));
    File::close(held);
}

TEST(Tarsil, InfoShowsEachTracksPagesAndIDsTheSectionsAndTheEventAndTextCounts) {
    TempDir dir;
    std::string path = dir.file("recorded.strg");
    ASSERT_EQ(tarsil(dir, {"format", path, "--size", "4M", "--page-size", "16384"}).exitCode, 0);
    const DateTime t0(2024, 5, 1, 10, 0, 0);
    uint64_t lastID = 0;
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        Recorder recorder;
        recorder.attach(&storage, 0, false);
        std::vector<uint8_t> bytes(3000, 0x42);
        for (int i = 0; i < 40; ++i) {
            // Twenty seconds, a gap of a minute, twenty more.
            DateTime time = t0.plusSeconds(i < 20 ? i : 60 + i);
            MediaElement frame;
            frame.setChannelMask(BitMask32(0x1));
            frame.setSyncKeyID(static_cast<uint32_t>(i / 10));
            frame.setSyncIndex(static_cast<uint16_t>(i % 10));
            frame.setTime(time);
            frame.setDataLength(static_cast<uint32_t>(bytes.size()));
            frame.setPayload(bytes.data());
            PagePosition at = recorder.write(frame);
            lastID = frame.mediaID();
            if (i % 10 == 0) {
                EventElement e;
                e.setChannelMask(BitMask32(0x1));
                e.setMediaID(frame.mediaID());
                e.setTime(time);
                e.setTimelinePosition(at);
                storage.writeEvent(e, false);
                TextInElement text;
                text.setChannelMask(BitMask32(0x1));
                text.setTime(time);
                text.setText("till 3");
                storage.writeTextIn(text);
            }
        }
        recorder.detach();
        ASSERT_TRUE(storage.close(true));
    }
    Outcome shown = tarsil(dir, {"info", path, "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    nlohmann::json j = nlohmann::json::parse(shown.out);
    std::map<std::string, nlohmann::json> byType;
    for (const auto& t : j["tracks"]) {
        byType[t["type"]] = t;
    }
    ASSERT_TRUE(byType.count("MDEA") && byType.count("TIML") && byType.count("RTBL"));
    EXPECT_GE(byType["MDEA"]["pages"].get<int>(), 7);  // 40 frames of 3 KiB on 16 KiB pages
    EXPECT_EQ(byType["MDEA"]["firstItemID"].get<uint64_t>(), 1u);
    EXPECT_EQ(byType["TIML"]["lastItemID"].get<uint64_t>(), lastID);
    EXPECT_FALSE(byType["MDEA"].contains("broken"));
    ASSERT_EQ(j["sections"].size(), 1u);
    ASSERT_EQ(j["sections"][0]["intervals"].size(), 2u);
    EXPECT_EQ(j["sections"][0]["intervals"][0]["from"], "2024/05/01 10:00:00");
    EXPECT_EQ(j["sections"][0]["intervals"][0]["to"], "2024/05/01 10:00:19");
    EXPECT_EQ(j["sections"][0]["intervals"][1]["to"], "2024/05/01 10:01:39");
    EXPECT_EQ(j["sections"][0]["dates"][0]["date"], "2024/05/01");
    EXPECT_EQ(j["events"], 4);
    EXPECT_EQ(j["textIns"], 4);
    Outcome text = tarsil(dir, {"info", path});
    EXPECT_TRUE(contains(text.out, "Sections:         1")) << text.out;
    EXPECT_TRUE(contains(text.out, "Events:           4")) << text.out;
}
