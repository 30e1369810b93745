#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "ScheduledSite.h"
#include "TempDir.h"
#include "app/group/StorageGroupContext.h"
#include "base/TextOf.h"
#include "recorder-sim/recording/SyntheticRecording.h"

// The station as people run it: recorder-sim programs, `quillfen run` on a data directory
// of its own, and the command line as its client. Real processes, real kills.
namespace {

using namespace std::chrono_literals;
constexpr const char* Password = "Pw'd%42!q";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string shellQuoted(const std::string& arg) {
    std::string result = "'";
    for (char c : arg) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// A program run in the background with its output in files.
class Program {
public:
    Program(const std::string& binary, const std::vector<std::string>& args, const std::string& out,
            const std::string& err)
        : _out(out), _err(err) {
        std::fflush(stdout);
        std::fflush(stderr);
        _pid = ::fork();
        if (_pid == 0) {
            std::FILE* o = std::freopen(out.c_str(), "a", stdout);
            std::FILE* e = std::freopen(err.c_str(), "a", stderr);
            (void)o;
            (void)e;
            std::vector<char*> argv{const_cast<char*>(binary.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(binary.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Program() { kill(SIGKILL); }
    pid_t pid() const { return _pid; }
    // The exit code after `signal` (-1 when it did not end normally within 60 s).
    int kill(int signal) {
        if (_pid <= 0) return -1;
        ::kill(_pid, signal);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + 60s;
        while (::waitpid(_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(_pid, SIGKILL);
                ::waitpid(_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        _pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The first line of standard output with `prefix`, waiting up to 30 s.
    std::string waitForLine(const std::string& prefix) {
        auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            std::istringstream lines(slurp(_out));
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
            }
            std::this_thread::sleep_for(20ms);
        }
        return "";
    }

private:
    pid_t _pid = 0;
    std::string _out;
    std::string _err;
};

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A small recording that still has gaps, several key groups, audio, events and text-in.
SyntheticRecordingOptions recordingOf(uint64_t seed) {
    SyntheticRecordingOptions o;
    o.seed = seed;
    o.videoChannels = 2;
    o.audioChannels = 1;
    o.framesPerSecond = 5;
    o.keyFrameInterval = 10;
    o.minKeyFrameSize = 20000;
    o.maxKeyFrameSize = 60000;
    o.sliceCount = 3;
    o.sliceSeconds = 240;
    o.gapSeconds = 30;
    o.clockBackSlice = -1;
    return o;
}

std::vector<std::string> simArguments(const SyntheticRecordingOptions& o, int port) {
    return {"--listen", "127.0.0.1:" + std::to_string(port), "--user", "admin", "--password", Password,
            "--seed", std::to_string(o.seed), "--channels", std::to_string(o.videoChannels),
            "--audio-channels", std::to_string(o.audioChannels), "--fps", std::to_string(o.framesPerSecond),
            "--key-interval", std::to_string(o.keyFrameInterval), "--min-key-frame-size",
            std::to_string(o.minKeyFrameSize), "--max-key-frame-size", std::to_string(o.maxKeyFrameSize),
            "--slices", std::to_string(o.sliceCount), "--slice-seconds", std::to_string(o.sliceSeconds),
            "--gap-seconds", std::to_string(o.gapSeconds), "--clock-back-slice", std::to_string(o.clockBackSlice)};
}

// The time of the recording's last video frame, as the status shows it.
std::string lastVideoTime(const SyntheticRecording& recording) {
    FrameCursor cursor = recording.cursorAtFirst(BitMask32(0xFFFFFFFFu));
    SyntheticFrame frame;
    DateTime last;
    while (cursor.next(frame)) {
        if (frame.mediaType == 0) last = frame.header.time;
    }
    return textOf(last);
}

class StationProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        dataDir = scratch.file("data");
        storageDir = scratch.file("storages");
    }

    // Each run of the station writes files of its own.
    void startStation() {
        ++runs;
        station = std::make_unique<Program>(QUILLFEN_BINARY,
                                            std::vector<std::string>{"run", "--data-dir", dataDir, "--storage-dir", storageDir},
                                            stationFile(runs, "out"), stationFile(runs, "err"));
        ASSERT_FALSE(station->waitForLine("listening on ").empty()) << slurp(stationFile(runs, "err"));
    }
    std::string stationFile(int run, const char* kind) {
        return scratch.file("station-" + std::to_string(run) + "." + kind);
    }
    int stopStation() {
        int code = station->kill(SIGTERM);
        station.reset();
        return code;
    }

    Outcome quillfen(const std::vector<std::string>& args, const std::string& input = "") {
        std::string command = std::string("timeout -k 5 60 ") + QUILLFEN_BINARY;
        for (const std::string& arg : args) command += " " + shellQuoted(arg);
        command += " --data-dir " + shellQuoted(dataDir);
        std::string in = scratch.file("stdin.txt");
        std::ofstream(in) << input;
        command += " <" + shellQuoted(in) + " >" + shellQuoted(scratch.file("cli.out")) + " 2>" +
                   shellQuoted(scratch.file("cli.err"));
        Outcome run;
        int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = slurp(scratch.file("cli.out"));
        run.err = slurp(scratch.file("cli.err"));
        everything += run.out + run.err;
        return run;
    }

    std::map<std::string, nlohmann::json> status() {
        Outcome run = quillfen({"status", "--json"});
        std::map<std::string, nlohmann::json> byName;
        nlohmann::json list = nlohmann::json::parse(run.out, nullptr, false);
        if (run.exitCode == 0 && list.is_array()) {
            for (const nlohmann::json& site : list) byName[site["name"].get<std::string>()] = site;
        }
        return byName;
    }

    // Until `done` holds for the status (polled), or `seconds` pass.
    bool waitStatus(const std::function<bool(std::map<std::string, nlohmann::json>&)>& done, int seconds = 240) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            auto sites = status();
            if (done(sites)) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // A free port the wizard allows (1501..32001) for a recorder-sim.
    std::unique_ptr<Program> startSim(const SyntheticRecordingOptions& options, int& port, const std::string& name) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            port = 20000 + static_cast<int>((::getpid() * 7 + attempt * 131 + name.size() * 17) % 12000);
            auto sim = std::make_unique<Program>(RECORDER_SIM_PROGRAM, simArguments(options, port),
                                                 scratch.file(name + ".out"), scratch.file(name + ".err"));
            if (!sim->waitForLine("listening on ").empty()) return sim;
        }
        return nullptr;
    }

    std::string groupFileOf(const std::string& name) { return storageDir + "/" + name + "/" + name + ".strgx"; }

    ArchiveContents readBack(const std::string& name, const UniqueID& id, const SyntheticRecording& recording) {
        StorageGroupContext reader(id);
        reader.setReadOnly(true);
        EXPECT_TRUE(reader.load(groupFileOf(name)));
        ArchiveContents contents = readGroup(reader.group(), recording);
        reader.unload();
        return contents;
    }

    TempDir scratch;
    std::string dataDir;
    std::string storageDir;
    std::unique_ptr<Program> station;
    int runs = 0;
    std::string everything;  // every line the command line printed
};

}  // namespace

TEST_F(StationProcessTest, TwoSitesArchiveSurviveAKillAndObeyTheirCommandsAcrossRestarts) {
    SyntheticRecordingOptions northOptions = recordingOf(11);
    SyntheticRecordingOptions southOptions = recordingOf(12);
    SyntheticRecording northRecording(northOptions);
    SyntheticRecording southRecording(southOptions);
    int northPort = 0, southPort = 0;
    auto north = startSim(northOptions, northPort, "north");
    auto south = startSim(southOptions, southPort, "south");
    ASSERT_TRUE(north && south);

    EXPECT_EQ(quillfen({"status"}).exitCode, 1) << "no station yet";
    startStation();
    Program* running = station.get();
    Outcome second = quillfen({"run", "--storage-dir", storageDir});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_TRUE(contains(second.err, "a station already runs on")) << second.err;
    EXPECT_TRUE(contains(second.err, "listening on http://127.0.0.1:")) << second.err;

    for (auto [name, port] : {std::pair<std::string, int>{"North", northPort}, {"South", southPort}}) {
        Outcome added = quillfen({"site", "add", "--name", name, "--address", "127.0.0.1", "--port",
                                  std::to_string(port), "--user", "admin", "--password-stdin", "--size", "0.5"},
                                 std::string(Password) + "\n");
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }
    // Nothing else may see the password: the processes' command lines hold none.
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string cmdline = slurp(entry.path().string() + "/cmdline");
        if (contains(cmdline, "quillfen")) {
            EXPECT_FALSE(contains(cmdline, Password)) << cmdline;
        }
    }

    // Killed while both archive.
    std::map<std::string, nlohmann::json> atKill;
    ASSERT_TRUE(waitStatus([&](auto& sites) {
        atKill = sites;
        return sites.size() == 2 && sites["North"]["usedBytes"].template get<uint64_t>() > (8u << 20) &&
               sites["South"]["usedBytes"].template get<uint64_t>() > (8u << 20);
    }, 60)) << quillfen({"status"}).out << slurp(stationFile(runs, "err"));
    EXPECT_EQ(running->kill(SIGKILL), -1);
    station.reset();
    std::string northEnd = lastVideoTime(northRecording);
    std::string southEnd = lastVideoTime(southRecording);
    std::printf("killed with North at %s of %s, South at %s of %s\n",
                atKill["North"]["lastArchived"].get<std::string>().c_str(), northEnd.c_str(),
                atKill["South"]["lastArchived"].get<std::string>().c_str(), southEnd.c_str());

    startStation();
    ASSERT_TRUE(waitStatus([&](auto& sites) {
        return sites["North"]["lastArchived"] == northEnd && sites["South"]["lastArchived"] == southEnd;
    })) << quillfen({"status"}).out;
    Outcome table = quillfen({"status"});
    EXPECT_TRUE(contains(table.out, "North")) << table.out;
    EXPECT_TRUE(contains(table.out, "127.0.0.1:" + std::to_string(northPort))) << table.out;
    std::map<std::string, nlohmann::json> done = status();
    EXPECT_EQ(stopStation(), 0);

    for (auto [name, recording] :
         {std::pair<std::string, SyntheticRecording*>{"North", &northRecording}, {"South", &southRecording}}) {
        ArchiveContents archive = readBack(name, UniqueID(done[name]["id"].get<std::string>().c_str()), *recording);
        std::vector<FrameKey> expected = expectedFromFirstKey(recording->cursorAtFirst(BitMask32(0xFFFFFFFFu)));
        EXPECT_EQ(archive.badPayloads, 0u) << name;
        EXPECT_TRUE(archive.frames == expected) << name << ": " << archive.firstDifference(expected);
        std::printf("%s: %zu frames archived once each after a kill\n", name.c_str(), archive.frames.size());
    }

    // stop-all and start-all, then a restart with one site stopped.
    startStation();
    EXPECT_EQ(quillfen({"stop-all"}).exitCode, 0);
    EXPECT_TRUE(waitStatus([](auto& sites) {
        return !sites["North"]["archiving"].template get<bool>() && !sites["South"]["archiving"].template get<bool>() &&
               sites["North"]["statusText"] == "Stopped";
    }, 30));
    EXPECT_EQ(quillfen({"start-all"}).exitCode, 0);
    EXPECT_TRUE(waitStatus([](auto& sites) {
        return sites["North"]["archiving"].template get<bool>() && sites["South"]["archiving"].template get<bool>();
    }, 30));
    EXPECT_EQ(quillfen({"site", "stop", "North"}).exitCode, 0);
    EXPECT_EQ(quillfen({"site", "stop", "Nowhere"}).exitCode, 1);
    EXPECT_EQ(stopStation(), 0);
    std::filesystem::remove(groupFileOf("South"));
    startStation();
    std::map<std::string, nlohmann::json> after = status();
    EXPECT_FALSE(after["North"]["archiving"].get<bool>());
    EXPECT_EQ(after["North"]["statusText"], "Stopped");
    EXPECT_FALSE(after["South"]["archiving"].get<bool>());
    EXPECT_EQ(after["South"]["statusText"], "Storage group file not found");
    Outcome refused = quillfen({"site", "start", "South"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "quillfen: Cannot start South: Storage group file not found\n");

    // Only 127.0.0.1 listens; requests without the token change nothing.
    std::string state = slurp(dataDir + "/station.json");
    int port = nlohmann::json::parse(state)["port"].get<int>();
    httplib::Client anyone("127.0.0.1", port);
    EXPECT_EQ(anyone.Post("/api/start-all")->status, 401);
    EXPECT_EQ(anyone.Post("/api/sites/0/delete", httplib::Headers{{"Authorization", "Bearer guess"}}, "{}",
                          "application/json")
                  ->status,
              401);
    EXPECT_FALSE(status()["North"]["archiving"].get<bool>());
    httplib::Client viaOtherAddress("127.0.0.2", port);
    viaOtherAddress.set_connection_timeout(2, 0);
    EXPECT_FALSE(viaOtherAddress.Get("/api/sites")) << "the API answers on an address other than 127.0.0.1";
    for (const char* file : {"app.db", "token", "station.json"}) {
        struct stat info {};
        ASSERT_EQ(::stat((dataDir + "/" + file).c_str(), &info), 0) << file;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }
    everything += quillfen({"log"}).out;
    EXPECT_EQ(stopStation(), 0);
    for (int run = 1; run <= runs; ++run) {
        everything += slurp(stationFile(run, "err")) + slurp(stationFile(run, "out"));
    }
    EXPECT_FALSE(contains(everything, Password)) << "the password was shown";
    EXPECT_TRUE(contains(everything, "Start archiving"));
}
