#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "TarsilRun.h"
#include "TempDir.h"
#include "base/File.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/MediaElement.h"
#include "storage/Recorder.h"

namespace {

const DateTime T0(2024, 5, 1, 10, 0, 0);

// Records `count` video frames of a few KiB from `from` on (a key frame every tenth).
void record(Storage& storage, uint64_t from, uint64_t count) {
    Recorder recorder;
    recorder.attach(&storage, 0, false);
    std::vector<uint8_t> bytes(5000, 0x5a);
    for (uint64_t n = from; n < from + count; ++n) {
        MediaElement frame;
        frame.setMediaType(TimelineLinkedElement::Video);
        frame.setChannelMask(BitMask32(1));
        frame.setSyncKeyID(static_cast<uint32_t>(n / 10));
        frame.setSyncIndex(static_cast<uint16_t>(n % 10));
        frame.setTime(T0.plusSeconds(static_cast<int>(n)));
        frame.setDataLength(static_cast<uint32_t>(bytes.size()));
        frame.setPayload(bytes.data());
        recorder.write(frame);
    }
    recorder.detach();
}

std::string formatted(const TempDir& dir, const std::string& name) {
    std::string path = dir.file(name);
    Outcome made = tarsil(dir, {"format", path, "--size", "2M", "--page-size", "16384"});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return path;
}

// A storage whose writer died after frames had gone to disk but before the timeline
// pages naming them were written: media pages joined, the timeline lags, and the last
// frame continues into a page that never joined.
std::string crashed(const TempDir& dir) {
    std::string path = formatted(dir, "crashed.strg");
    FixedSizeFileStorage storage;
    EXPECT_TRUE(storage.open(path.c_str()));
    record(storage, 0, 20);
    storage.flush();
    record(storage, 20, 17);
    storage.close(false);
    return path;
}

}  // namespace

TEST(TarsilCheck, SoundFileExitsZeroAndTheCheckNeverChangesAByte) {
    TempDir dir;
    std::string path = formatted(dir, "sound.strg");
    {
        FixedSizeFileStorage storage;
        ASSERT_TRUE(storage.open(path.c_str()));
        record(storage, 0, 30);
        storage.close(true);
    }
    std::string before = slurp(path);
    Outcome text = tarsil(dir, {"check", path});
    EXPECT_EQ(text.exitCode, 0) << text.out << text.err;
    EXPECT_TRUE(contains(text.out, "sound")) << text.out;
    Outcome json = tarsil(dir, {"check", path, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    nlohmann::json j = nlohmann::json::parse(json.out);
    EXPECT_EQ(j["state"], "sound");
    EXPECT_TRUE(j["findings"].empty());
    EXPECT_EQ(slurp(path), before) << "check changed the file";
}

TEST(TarsilCheck, CrashedFileNeedsCorrectionUntilRepairWhichSaysWhatItDid) {
    TempDir dir;
    std::string path = crashed(dir);
    std::string before = slurp(path);
    Outcome found = tarsil(dir, {"check", path});
    EXPECT_EQ(found.exitCode, 1) << found.out << found.err;
    EXPECT_GE(lines(found.out), 2) << "a line per finding and the verdict: " << found.out;
    EXPECT_TRUE(contains(found.out, "needs correction")) << found.out;
    EXPECT_EQ(slurp(path), before) << "check changed the file";

    Outcome repaired = tarsil(dir, {"check", "--repair", path, "--json"});
    ASSERT_EQ(repaired.exitCode, 0) << repaired.out << repaired.err;
    nlohmann::json j = nlohmann::json::parse(repaired.out);
    EXPECT_EQ(j["state"], "sound");
    std::string repairs = j["repairs"].dump();
    EXPECT_TRUE(contains(repairs, "[RECOVERY] timeline")) << repairs;
    EXPECT_TRUE(contains(repairs, "truncate overflowed frame")) << repairs;

    Outcome again = tarsil(dir, {"check", path});
    EXPECT_EQ(again.exitCode, 0) << again.out;
    // A second repair has nothing to do; info still shows what the last correction did.
    Outcome nothing = tarsil(dir, {"check", "--repair", path});
    EXPECT_EQ(nothing.exitCode, 0) << nothing.out;
    EXPECT_TRUE(contains(nothing.out, "nothing needed repair")) << nothing.out;
    Outcome shown = tarsil(dir, {"info", path});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_TRUE(contains(shown.out, "Last correction:")) << shown.out;
    EXPECT_TRUE(contains(shown.out, "[RECOVERY] timeline")) << shown.out;
}

TEST(TarsilCheck, MissingBlankOrForeignFilesCannotBeOpened) {
    TempDir dir;
    Outcome missing = tarsil(dir, {"check", dir.file("none.strg")});
    EXPECT_EQ(missing.exitCode, 2);
    std::string blank = dir.file("blank.strg");
    File::create(blank.c_str(), 1 << 20);
    Outcome zeros = tarsil(dir, {"check", blank});
    EXPECT_EQ(zeros.exitCode, 2) << zeros.out;
    EXPECT_TRUE(contains(zeros.out, "cannot be opened")) << zeros.out;
    Outcome repair = tarsil(dir, {"check", "--repair", blank});
    EXPECT_EQ(repair.exitCode, 2) << repair.out;
    EXPECT_EQ(slurp(blank), std::string(1 << 20, '\0')) << "a failed repair changed a foreign file";
}
