#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>

// A forked child that runs one function and reports to the test through a pipe: the
// child calls hold(n) to tell the parent it reached point n and to wait there until the
// parent resumes it (or kills it). The child never returns into the test framework; it
// ends with _exit and the function's result as exit code. When the parent goes away, a
// held child ends too.
class ChildProcess {
public:
    static constexpr int NoReport = -1;

    explicit ChildProcess(const std::function<int()>& body) {
        int report[2];
        int resume[2];
        if (::pipe(report) != 0 || ::pipe(resume) != 0) {
            std::abort();
        }
        _pid = ::fork();
        if (_pid < 0) {
            std::abort();
        }
        if (_pid == 0) {
            ::close(report[0]);
            ::close(resume[1]);
            reportFd() = report[1];
            resumeFd() = resume[0];
            int result = body();
            ::_exit(result);
        }
        ::close(report[1]);
        ::close(resume[0]);
        _report = report[0];
        _resume = resume[1];
    }

    ~ChildProcess() {
        if (_pid > 0) {
            kill();
        }
        ::close(_report);
        ::close(_resume);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // In the child: tells the parent that point `n` is reached and waits to be resumed.
    static void hold(int n) {
        unsigned char byte = static_cast<unsigned char>(n);
        if (::write(reportFd(), &byte, 1) != 1) {
            ::_exit(90);
        }
        char go;
        if (::read(resumeFd(), &go, 1) != 1) {
            ::_exit(91);  // the parent is gone
        }
    }

    // The next point the child reported, or NoReport when it ended first or did not
    // report within `deadline`.
    int waitForReport(std::chrono::milliseconds deadline) {
        struct pollfd ready {_report, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(deadline.count())) != 1) {
            return NoReport;
        }
        unsigned char byte;
        return ::read(_report, &byte, 1) == 1 ? byte : NoReport;
    }

    void resume() {
        char go = 1;
        if (::write(_resume, &go, 1) != 1) {
            std::abort();
        }
    }

    // A real crash: SIGKILL, then reaped.
    void kill() {
        if (_pid > 0) {
            ::kill(_pid, SIGKILL);
            reap();
        }
    }

    // The exit code, or -signal when the child was killed, or TimedOut (the child is
    // then killed) when it has not ended within `deadline`. Reports it makes meanwhile
    // are skipped.
    int wait(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        if (_pid <= 0) {
            return _exitCode;
        }
        // The report pipe reaches its end when the child is gone.
        auto until = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            struct pollfd ready {_report, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1) {
                kill();
                return TimedOut;
            }
            unsigned char byte;
            if (::read(_report, &byte, 1) != 1) {
                break;
            }
        }
        return reap();
    }

    static constexpr int TimedOut = -1000;

private:
    int reap() {
        int status = 0;
        if (::waitpid(_pid, &status, 0) == _pid) {
            _exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        _pid = 0;
        return _exitCode;
    }

    static int& reportFd() {
        static int fd = -1;
        return fd;
    }
    static int& resumeFd() {
        static int fd = -1;
        return fd;
    }

    pid_t _pid = 0;
    int _report = -1;
    int _resume = -1;
    int _exitCode = NoReport;
};
