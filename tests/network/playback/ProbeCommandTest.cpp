#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "PlaybackTestSupport.h"
#include "TempDir.h"

#ifdef QUILLFEN_BINARY
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

// Runs `quillfen probe` as its own process against 127.0.0.1:port; one that has not ended
// after 30 s is killed (and its exit code is then 124 or 137).
Outcome probe(uint16_t port, const std::string& password, bool json) {
    TempDir scratch;
    std::string command = "timeout -k 5 30 " + std::string(QUILLFEN_BINARY) + " probe --address 127.0.0.1 --port " + std::to_string(port) +
                          " --user admin --password " + password + (json ? " --json" : "") + " >" +
                          scratch.file("out") + " 2>" + scratch.file("err");
    Outcome run;
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(scratch.file("out"));
    run.err = slurp(scratch.file("err"));
    return run;
}

PlaybackServiceConfig simConfig() {
    PlaybackServiceConfig config;
    config.recording = smallRecording();
    config.recording.start = DateTime(2009, 3, 1, 23, 59, 40);  // recorded across midnight
    return config;
}

TEST(ProbeCommand, PrintsWhatTheRecorderReportsAsTextAndAsJson) {
    SimRecorder recorder(simConfig());
    const SyntheticRecording& recording = recorder.service.recording();

    Outcome text = probe(recorder.sim.port(), "admin", false);
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("QF-SIM16"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Recording calendar: 2 days"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("2009/03/02"), std::string::npos) << text.out;

    Outcome json = probe(recorder.sim.port(), "admin", true);
    ASSERT_EQ(json.exitCode, 0) << json.err;
    nlohmann::json doc = nlohmann::json::parse(json.out);
    EXPECT_TRUE(doc["ok"].get<bool>());
    EXPECT_EQ(doc["product"]["version"], "1.2");
    EXPECT_EQ(doc["system"]["videoIn"], 16);
    EXPECT_EQ(doc["calendar"], nlohmann::json({"2009/03/01", "2009/03/02"}));
    // The slices of the whole recording, sorted by time.
    std::vector<RecordedSlice> expected = recording.timeTable(Interval(), BitMask32(0xFFFF));
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(doc["timeTable"].size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(doc["timeTable"][i]["section"], expected[i].id);
        EXPECT_EQ(doc["timeTable"][i]["channels"], expected[i].channels.value());
    }
}

TEST(ProbeCommand, FailuresExitNonZeroWithTheReasonAndAnExplanation) {
    uint16_t closedPort = 0;
    {
        SimRecorder recorder(simConfig());
        Outcome refused = probe(recorder.sim.port(), "not-the-password", false);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("reason 308: The recorder refused the login"), std::string::npos) << refused.err;
        closedPort = recorder.sim.port();
    }
    // Nobody listens there any more.
    Outcome nobody = probe(closedPort, "admin", true);
    EXPECT_EQ(nobody.exitCode, 1);
    nlohmann::json doc = nlohmann::json::parse(nobody.out);
    EXPECT_FALSE(doc["ok"].get<bool>());
    EXPECT_EQ(doc["reason"], 111);
    EXPECT_NE(doc["explanation"].get<std::string>().find("port"), std::string::npos);
}

}  // namespace
#endif  // QUILLFEN_BINARY
