#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>

// A forked child that runs one function and ends with _exit(its result), never returning
// into the test framework. hold(n), called in the child, tells the parent that point n is
// reached and waits there until the parent resumes it or kills it; a held child whose
// parent is gone ends too. Fork only while the parent holds no group file open: a child
// shares the locks of every descriptor it inherits.
class ChildProcess {
public:
    static constexpr int None = -1000;

    explicit ChildProcess(const std::function<int()>& body) {
        int report[2], resume[2];
        if (::pipe(report) != 0 || ::pipe(resume) != 0 || (_pid = ::fork()) < 0) {
            std::abort();
        }
        if (_pid == 0) {
            ::close(report[0]);
            ::close(resume[1]);
            channel() = {report[1], resume[0]};
            ::_exit(body());
        }
        ::close(report[1]);
        ::close(resume[0]);
        _report = report[0];
        _resume = resume[1];
    }
    ~ChildProcess() {
        kill();
        ::close(_report);
        ::close(_resume);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    static void hold(int point) {
        unsigned char byte = static_cast<unsigned char>(point);
        char go;
        if (::write(channel().report, &byte, 1) != 1 || ::read(channel().resume, &go, 1) != 1) {
            ::_exit(91);
        }
    }

    // The next point reported, or None when the child ended first or the deadline passed.
    int waitForReport(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        struct pollfd ready {
            _report, POLLIN, 0
        };
        unsigned char byte;
        if (::poll(&ready, 1, static_cast<int>(deadline.count())) != 1 || ::read(_report, &byte, 1) != 1) {
            return None;
        }
        return byte;
    }

    void resume() {
        char go = 1;
        if (::write(_resume, &go, 1) != 1) {
            std::abort();
        }
    }

    // The exit code; None (and the child killed) when it reported again or did not end
    // within the deadline. The report pipe reaches its end once the child is gone.
    int wait(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        struct pollfd ready {
            _report, POLLIN, 0
        };
        char byte;
        bool ended =
            ::poll(&ready, 1, static_cast<int>(deadline.count())) == 1 && ::read(_report, &byte, 1) == 0;
        if (!ended || _pid <= 0) {
            kill();
            return None;
        }
        int status = 0;
        ::waitpid(_pid, &status, 0);
        _pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : None;
    }

    // A real crash.
    void kill() {
        if (_pid > 0) {
            ::kill(_pid, SIGKILL);
            ::waitpid(_pid, nullptr, 0);
            _pid = 0;
        }
    }

private:
    struct Channel {
        int report = -1;
        int resume = -1;
    };
    static Channel& channel() {
        static Channel fds;
        return fds;
    }

    pid_t _pid = 0;
    int _report = -1;
    int _resume = -1;
};
