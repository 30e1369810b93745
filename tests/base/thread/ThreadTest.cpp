#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/StandardException.h"
#include "base/SystemException.h"
#include "base/thread/Condition.h"
#include "base/thread/IUncaughtExceptionHandler.h"
#include "base/thread/Thread.h"
#include "ThreadTestSupport.h"

namespace {

struct Report {
    Thread* thread;
    std::string name;
    std::string message;
    int errorCode;
};

class RecordingHandler : public IUncaughtExceptionHandler {
public:
    RecordingHandler() { Thread::setUncaughtExceptionHandler(this); }
    ~RecordingHandler() override { Thread::setUncaughtExceptionHandler(nullptr); }
    void uncaughtException(Thread& thread, Exception& e) override {
        std::lock_guard<std::mutex> guard(mutex);
        reports.push_back({&thread, e.name(), messageOf(e), e.errorCode()});
    }
    std::mutex mutex;
    std::vector<Report> reports;
};

class Thrower : public Thread {
public:
    Thrower(const char* name, int kind) : Thread(name), _kind(kind) {}
    void run() override {
        sawItself = &Thread::currentThread() == this;
        if (_kind == 0) throw SystemException(QF_HERE, ENOENT);
        if (_kind == 1) throw std::runtime_error("out of range");
        throw 42;
    }
    bool sawItself = false;

private:
    int _kind;
};

}  // namespace

TEST(Thread, MainThreadIsTheNullThread) {
    Thread& current = Thread::currentThread();
    EXPECT_STREQ(current.name(), "Null");
    EXPECT_EQ(current.id(), 0u);
}

TEST(Thread, EachThreadAndAForkedChildSeeTheirOwnIdentifier) {
    uint32_t main = Thread::currentThreadId();
    EXPECT_EQ(main, static_cast<uint32_t>(::getpid()));
    EXPECT_EQ(Thread::currentThreadId(), main);
    uint32_t first = 0;
    uint32_t second = 0;
    std::thread other([&] {
        first = Thread::currentThreadId();
        second = Thread::currentThreadId();
    });
    other.join();
    EXPECT_NE(first, main);
    EXPECT_EQ(first, second);
    // The child's only thread is a new one, whatever the forking thread had looked up.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(Thread::currentThreadId() == static_cast<uint32_t>(::getpid()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Thread, EscapingExceptionsReachTheHandlerInTheirThreeFormsAndTheThreadFinishes) {
    RecordingHandler handler;
    Thrower system("system", 0), standard("standard", 1), other("other", 2);
    for (Thrower* t : {&system, &standard, &other}) t->start();
    for (Thrower* t : {&system, &standard, &other}) {
        ASSERT_TRUE(t->joinFor(WaitMs)) << t->name() << " did not finish after its exception";
        EXPECT_TRUE(t->sawItself) << t->name();
    }
    ASSERT_EQ(handler.reports.size(), 3u);
    auto reportOf = [&](Thread* t) {
        for (const Report& r : handler.reports)
            if (r.thread == t) return r;
        return Report{nullptr, "", "", -1};
    };
    Report s = reportOf(&system);
    EXPECT_EQ(s.name, "SystemException");
    EXPECT_EQ(s.errorCode, ENOENT);
    EXPECT_EQ(s.message, systemErrorText(ENOENT));
    Report w = reportOf(&standard);
    EXPECT_EQ(w.name, "UnknownException");
    EXPECT_EQ(w.message, "out of range");
    Report u = reportOf(&other);
    EXPECT_EQ(u.name, "UnknownException");
    EXPECT_EQ(u.message, "unknown_message");
}

TEST(Thread, TracesStartFinishAndTheDefaultHandlersLine) {
    TraceCapture trace;
    Thrower failing("failing", 0);
    failing.start();
    ASSERT_TRUE(failing.joinFor(WaitMs)) << "the failing thread did not finish";
    unsigned id = failing.id();
    ASSERT_NE(id, 0u);
    std::string ids = "\"failing\"(ID=" + std::to_string(id) + ")";
    EXPECT_TRUE(trace.contains("Starting thread: " + ids));
    // The body ended by an exception: no finishing line, but the handler's report.
    EXPECT_EQ(trace.countContaining("Finishing thread"), 0);
    std::string line = "Exception in thread " + ids + " SystemException: " + systemErrorText(ENOENT) + "\tat ";
    bool found = false;
    for (const std::string& l : trace.lines()) found = found || l.rfind(line, 0) == 0;
    EXPECT_TRUE(found);

    Thread quiet("quiet");
    quiet.start();
    ASSERT_TRUE(quiet.joinFor(WaitMs)) << "the quiet thread did not finish";
    EXPECT_TRUE(trace.contains("Finishing thread: \"quiet\"(ID=" + std::to_string(quiet.id()) + ")"));
}

TEST(Thread, RunsAGivenTargetAndCanBeStartedAgainAfterJoin) {
    struct Counter : IRunnable {
        std::atomic<int> runs{0};
        void run() override { ++runs; }
    } counter;
    Thread thread(&counter, "target");
    EXPECT_TRUE(thread.joinFor(0)) << "a thread never started counts as finished";
    thread.start();
    ASSERT_TRUE(thread.joinFor(WaitMs)) << "the first run did not finish";
    thread.start();
    ASSERT_TRUE(thread.joinFor(WaitMs)) << "the second run did not finish";
    EXPECT_EQ(counter.runs.load(), 2);
}

TEST(Condition, NotifyWithoutWaiterIsLost) {
    Mutex mutex;
    Condition condition(mutex);
    std::lock_guard<Mutex> guard(mutex);
    condition.notify();
    EXPECT_FALSE(condition.waitFor(20));
}

TEST(Condition, EachNotifyReleasesADifferentWaiter) {
    Mutex mutex;
    Condition condition(mutex);
    std::atomic<int> woken{0};
    struct Waiter : IRunnable {
        Mutex* mutex;
        Condition* condition;
        std::atomic<int>* woken;
        void run() override {
            std::lock_guard<Mutex> guard(*mutex);
            condition->wait();
            ++*woken;
        }
    };
    Waiter body{};
    body.mutex = &mutex;
    body.condition = &condition;
    body.woken = &woken;
    Thread a(&body, "waiter-a"), b(&body, "waiter-b");
    a.start();
    b.start();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<Mutex> guard(mutex);
        return condition.waiterCount() == 2;
    })) << "the two waiters did not both wait";
    {
        // Two notifies in a row, before either waiter runs: both must wake.
        std::lock_guard<Mutex> guard(mutex);
        condition.notify();
        condition.notify();
    }
    bool bothFinished = a.joinFor(WaitMs) && b.joinFor(WaitMs);
    EXPECT_TRUE(bothFinished) << "two notifies woke " << woken.load() << " of two waiters";
    EXPECT_EQ(woken.load(), 2);
    if (!bothFinished) {
        std::lock_guard<Mutex> guard(mutex);
        condition.notifyAll();  // let the stuck waiter go before its body leaves scope
    }
    ASSERT_TRUE(a.joinFor(WaitMs) && b.joinFor(WaitMs)) << "a waiter stayed stuck after notifyAll";
}
