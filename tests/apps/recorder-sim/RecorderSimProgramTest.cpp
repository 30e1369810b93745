#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestFacade.h"
#include "network/session/DisconnectReason.h"

namespace {

// The recorder-sim program, started with `arguments`, its standard output on a pipe.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments) {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        _pid = ::fork();
        if (_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(RECORDER_SIM_PROGRAM));
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execv(RECORDER_SIM_PROGRAM, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        _output = ::fdopen(fds[0], "r");
    }
    ~SimProcess() {
        if (_pid > 0) {
            ::kill(_pid, SIGKILL);
            ::waitpid(_pid, nullptr, 0);
        }
        if (_output != nullptr) {
            ::fclose(_output);
        }
    }
    // The next line the program prints; empty when it prints none within a few seconds.
    std::string readLine() {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (_output != nullptr) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            pollfd ready{::fileno(_output), POLLIN, 0};
            if (left <= 0 || ::poll(&ready, 1, left) <= 0) {
                return "";
            }
            char c = 0;
            if (::read(ready.fd, &c, 1) != 1) {
                return line;
            }
            line.push_back(c);
            if (c == '\n') {
                return line;
            }
        }
        return line;
    }
    // Sends `signal` and returns the exit status (-1 when it did not exit normally, or
    // had not exited within a few seconds and was killed).
    int stop(int signal) {
        ::kill(_pid, signal);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(_pid, SIGKILL);
                ::waitpid(_pid, &status, 0);
                _pid = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        _pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t _pid = -1;
    FILE* _output = nullptr;
};

}  // namespace

TEST(RecorderSimProgram, PrintsItsAddressServesLoginsAndStopsCleanlyOnSigterm) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--user", "op", "--password", "pw", "--fault", "none"});
    std::string first = sim.readLine();
    unsigned port = 0;
    ASSERT_EQ(std::sscanf(first.c_str(), "listening on 127.0.0.1:%u", &port), 1) << first;
    ASSERT_GT(port, 0u);

    TestFacade facade;
    int good = facade.connect(SiteAddress{"127.0.0.1", static_cast<uint16_t>(port), "op", "pw"}, nullptr);
    EXPECT_TRUE(facade.waitLoggedIn(good));
    int bad = facade.connect(SiteAddress{"127.0.0.1", static_cast<uint16_t>(port), "op", "nope"}, nullptr);
    EXPECT_EQ(facade.waitDisconnected(bad), DisconnectReason::LoginRefused);

    EXPECT_EQ(sim.stop(SIGTERM), 0);
    EXPECT_EQ(facade.waitDisconnected(good), DisconnectReason::PeerClosed);
}

TEST(RecorderSimProgram, FaultSwitchFromTheCommandLineIsPlayed) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--fault", "refuse-login", "--login-code", "5"});
    unsigned port = 0;
    ASSERT_EQ(std::sscanf(sim.readLine().c_str(), "listening on 127.0.0.1:%u", &port), 1);
    TestFacade facade;
    int handle = facade.connect(SiteAddress{"127.0.0.1", static_cast<uint16_t>(port), "admin", "admin"}, nullptr);
    EXPECT_EQ(facade.waitDisconnected(handle), DisconnectReason::LoginRefusedCode5);
    EXPECT_EQ(sim.stop(SIGINT), 0);
}

TEST(RecorderSimProgram, UnknownFaultIsRejected) {
    SimProcess sim({"--listen", "127.0.0.1:0", "--fault", "meltdown"});
    EXPECT_EQ(sim.readLine(), "");
    EXPECT_EQ(sim.stop(0), 2);
}
