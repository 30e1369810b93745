#include <string>

#include <gtest/gtest.h>

#include "base/LogLevel.h"
#include "base/thread/DefaultLogHandler.h"
#include "base/thread/LogHandler.h"
#include "base/thread/Thread.h"
#include "ThreadTestSupport.h"

TEST(DefaultLogHandler, WritesOneLineNamingLevelThreadMessageAndLocation) {
    TraceCapture trace;
    DefaultLogHandler& handler = DefaultLogHandler::instance();
    handler.log(LogLevel::Warn, "disk almost full", "void Storage::open(void)");
    handler.log(7, "odd level", nullptr);

    struct Logger : Thread {
        Logger() : Thread("archiver") {}
        void run() override { LogHandler::instance().log(LogLevel::Info, "chunk done", "here"); }
    } logger;
    logger.start();
    ASSERT_TRUE(logger.joinFor(WaitMs)) << "the logging thread did not finish";

    auto lines = trace.lines();
    std::string thread = "\"archiver\"(ID=" + std::to_string(logger.id()) + ")";
    EXPECT_TRUE(trace.contains("[WARN] Log in thread \"Null\"(ID=0): disk almost full\tat void Storage::open(void)\n"));
    EXPECT_TRUE(trace.contains("[UNKNOWN] Log in thread \"Null\"(ID=0): odd level\tat \n"));
    EXPECT_TRUE(trace.contains("[INFO] Log in thread " + thread + ": chunk done\tat here\n"));
}

TEST(LogHandler, InstalledHandlerReplacesTheDefaultUntilRemoved) {
    struct Counting : ILogHandler {
        int entries = 0;
        void log(int, const char*, const char*) override { ++entries; }
    } counting;
    EXPECT_EQ(&LogHandler::instance(), &DefaultLogHandler::instance());
    LogHandler::install(&counting);
    LogHandler::instance().log(LogLevel::Fatal, "not fatal here", nullptr);
    LogHandler::install(nullptr);
    EXPECT_EQ(counting.entries, 1);
    EXPECT_EQ(&LogHandler::instance(), &DefaultLogHandler::instance());
}

TEST(DefaultLogHandlerDeathTest, FatalEntryAbortsAfterWritingItsLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // With tracing off the line still reaches stderr, so the abort is explained.
    EXPECT_DEATH(DefaultLogHandler::instance().log(LogLevel::Fatal, "journal unreadable", "recover"),
                 "\\[FATAL\\] Log in thread \"Null\"\\(ID=0\\): journal unreadable\tat recover");
}
