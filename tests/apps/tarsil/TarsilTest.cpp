#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "base/File.h"
#include "storage/FixedSizeFileStorage.h"
#include "storage/aio/StorageDevice.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string shellQuoted(const std::string& arg) {
    std::string result = "'";
    for (char c : arg) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

Outcome tarsil(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = TARSIL_BINARY;
    for (const std::string& arg : args) {
        command += " " + shellQuoted(arg);
    }
    std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
    command += " >" + shellQuoted(out) + " 2>" + shellQuoted(err);
    Outcome run;
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

int lines(const std::string& text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

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
