#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TablesFixture.h"
#include "app/tables/SystemLogCode.h"
#include "base/Clock.h"
#include "base/TextOf.h"
#include "base/thread/Thread.h"

namespace {

class SystemLoggerTest : public TablesFixture {
protected:
    SystemLogger& logger = SystemLogger::instance();
    UniqueID siteA;
    UniqueID siteB;
};

}  // namespace

TEST_F(SystemLoggerTest, EntryFieldsRoundTripThroughTheTable) {
    ManualClock clock(DateTime(2024, 2, 29, 23, 59, 58, -5 * 3600));
    ASSERT_TRUE(logger.error(siteA, SystemLogCode::ConnectionRefused, "it's 100% 'down' — нет"));
    clock.set(DateTime(2024, 3, 1, 0, 0, 1, 9 * 3600));
    ASSERT_TRUE(logger.info(siteB, SystemLogCode::StartArchiving));

    restart();
    ASSERT_TRUE(logger.select(Date(2024, 1, 1), Date(2024, 12, 31)));
    std::vector<SystemLog> entries = logger.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level(), SystemLogLevel::Error);
    EXPECT_EQ(textOf(entries[0].time()), "2024/02/29 23:59:58");
    EXPECT_EQ(entries[0].time().utcOffset(), -5 * 3600);
    EXPECT_TRUE(entries[0].owner().equals(siteA));
    EXPECT_EQ(entries[0].code(), SystemLogCode::ConnectionRefused);
    EXPECT_EQ(entries[0].message(), "it's 100% 'down' — нет");
    EXPECT_EQ(entries[1].level(), SystemLogLevel::Info);
    EXPECT_EQ(entries[1].time().utcOffset(), 9 * 3600);
    EXPECT_EQ(entries[1].message(), "");
    EXPECT_LT(entries[0].rowId(), entries[1].rowId());
    // The stored words are the packed date and time, as other readers of the file expect.
    EXPECT_EQ(number("SELECT date FROM log WHERE id = 1;"), (2024 << 16) | (2 << 8) | 29);
    EXPECT_EQ(number("SELECT time FROM log WHERE id = 2;"), (36 << 24) | (0 << 16) | (0 << 8) | 1);
    EXPECT_EQ(number("SELECT time FROM log WHERE id = 1;"), -20 * 16777216 + (23 << 16) + (59 << 8) + 58);
}

TEST_F(SystemLoggerTest, SelectFiltersByInclusiveDateRangeAndSite) {
    ManualClock clock(DateTime(2024, 5, 1, 12, 0, 0));
    for (int day = 1; day <= 5; ++day) {
        clock.set(DateTime(2024, 5, day, 12, 0, 0));
        logger.info(siteA, SystemLogCode::Scheduled, std::to_string(day).c_str());
        logger.error(siteB, SystemLogCode::Disconnected, std::to_string(day).c_str());
    }
    auto messages = [&] {
        std::vector<std::string> result;
        for (const SystemLog& entry : logger.entries()) {
            result.push_back(entry.message());
        }
        return result;
    };
    ASSERT_TRUE(logger.select(Date(2024, 5, 2), Date(2024, 5, 3), &siteA));
    EXPECT_EQ(messages(), (std::vector<std::string>{"2", "3"}));
    ASSERT_TRUE(logger.select(Date(2024, 5, 5), Date(2024, 5, 9)));
    EXPECT_EQ(messages(), (std::vector<std::string>{"5", "5"}));
    ASSERT_TRUE(logger.select(Date(2024, 6, 1), Date(2024, 6, 30)));
    EXPECT_TRUE(messages().empty());
}

TEST_F(SystemLoggerTest, TheEntryBeyondTheLimitRemovesTheOldest) {
    // One outer transaction for the fill, so the test does not wait for 10000 commits.
    execute("BEGIN;");
    for (int i = 1; i <= SystemLogger::MAX_ENTRIES; ++i) {
        ASSERT_TRUE(logger.info(siteA, SystemLogCode::Scheduled, std::to_string(i).c_str()));
    }
    execute("COMMIT;");
    EXPECT_EQ(number("SELECT COUNT(*) FROM log;"), 10000);
    ASSERT_TRUE(logger.info(siteA, SystemLogCode::Scheduled, "10001"));
    EXPECT_EQ(number("SELECT COUNT(*) FROM log;"), 10000);
    EXPECT_EQ(number("SELECT MIN(id) FROM log;"), 2);
    EXPECT_EQ(number("SELECT MAX(id) FROM log;"), 10001);
    EXPECT_EQ(logger.entries().size(), 10000u);
    EXPECT_EQ(logger.entries().front().message(), "2");

    // The count is read back from the file, and the limit still holds after a restart.
    restart();
    EXPECT_EQ(logger.rowCount(), 10000);
    ASSERT_TRUE(logger.info(siteA, SystemLogCode::Scheduled, "10002"));
    EXPECT_EQ(number("SELECT MIN(id) FROM log;"), 3);
}

TEST_F(SystemLoggerTest, ConcurrentWritersLoseAndDuplicateNothing) {
    constexpr int threads = 8;
    constexpr int perThread = 60;
    struct Writer : Thread {
        Writer(SystemLogger& l, const UniqueID& s, int n) : Thread("log writer"), logger(l), site(s), number(n) {}
        void run() override {
            for (int i = 0; i < perThread; ++i) {
                std::string text = std::to_string(number) + ":" + std::to_string(i);
                failures += logger.info(site, SystemLogCode::Scheduled, text.c_str()) ? 0 : 1;
            }
        }
        SystemLogger& logger;
        const UniqueID& site;
        int number;
        int failures = 0;
    };
    std::vector<std::unique_ptr<Writer>> writers;
    for (int t = 0; t < threads; ++t) {
        writers.push_back(std::make_unique<Writer>(logger, siteA, t));
        writers.back()->start();
    }
    for (auto& writer : writers) {
        if (!writer->joinFor(5000)) {
            // A writer stuck inside the logger may hold the database mutex that every later
            // statement needs: end the program with the reason instead of hanging.
            ADD_FAILURE() << "a log writer did not finish its " << perThread << " entries within 5 s";
            std::_Exit(1);
        }
        EXPECT_EQ(writer->failures, 0);
    }
    EXPECT_EQ(logger.rowCount(), threads * perThread);
    std::set<std::string> inMemory;
    for (const SystemLog& entry : logger.entries()) {
        inMemory.insert(entry.message());
    }
    EXPECT_EQ(inMemory.size(), static_cast<size_t>(threads * perThread));
    EXPECT_EQ(number("SELECT COUNT(DISTINCT message) FROM log;"), threads * perThread);
    EXPECT_EQ(number("SELECT COUNT(*) FROM log;"), threads * perThread);
}

TEST_F(SystemLoggerTest, WriteFailureIsSwallowedAndTheLogRecovers) {
    logger.info(siteA, SystemLogCode::StartArchiving);
    execute("PRAGMA query_only = ON;");
    EXPECT_FALSE(logger.error(siteA, SystemLogCode::StorageIOError));
    EXPECT_EQ(logger.entries().size(), 1u);
    EXPECT_EQ(logger.rowCount(), 1);
    execute("PRAGMA query_only = OFF;");
    EXPECT_TRUE(logger.error(siteA, SystemLogCode::StorageIOError));
    EXPECT_EQ(number("SELECT COUNT(*) FROM log;"), 2);
}

TEST(SystemLogCode, EveryCodeAndLevelShowsItsFixedText) {
    struct Known {
        int code;
        const char* text;
    };
    const Known codes[] = {
        {SystemLogCode::None, ""},
        {SystemLogCode::StartArchiving, "Start archiving"},
        {SystemLogCode::ArchivingStopped, "Archiving stopped"},
        {SystemLogCode::ScheduleAdded, "Schedule added"},
        {SystemLogCode::ScheduleDeleted, "Schedule deleted"},
        {SystemLogCode::Scheduled, "Scheduled"},
        {SystemLogCode::SiteAddressChanged, "Site address changed"},
        {SystemLogCode::PlaybackPortChanged, "Playback port changed"},
        {SystemLogCode::UsernameChanged, "Username changed"},
        {SystemLogCode::StorageAdded, "Storage added"},
        {SystemLogCode::StorageRemoved, "Storage removed"},
        {SystemLogCode::StorageFormatted, "Storage formatted"},
        {SystemLogCode::NotEnoughSpace, "Not enough space to archive"},
        {SystemLogCode::StorageIOError, "Storage I/O Error occured"},
        {SystemLogCode::ArchivingSpeedSlow, "Archiving speed is slow"},
        {SystemLogCode::FailedToFindSite, "Failed to find the site"},
        {SystemLogCode::FailedToLogin, "Failed to login"},
        {SystemLogCode::PlaybackPermissionDenied, "Network playback permission denied"},
        {SystemLogCode::PlaybackChannelFull, "Network playback channel full"},
        {SystemLogCode::PlaybackProtocolNotSupported, "Network playback protocol not supported"},
        {SystemLogCode::ConnectionTimeout, "Connection timeout"},
        {SystemLogCode::ConnectionRefused, "Connection refused"},
        {SystemLogCode::Disconnected, "Disconnected"},
        {SystemLogCode::FailedToConnect, "Failed to connect"},
    };
    // The numbers are stored in existing log tables: each name keeps its place.
    for (int i = 0; i < static_cast<int>(std::size(codes)); ++i) {
        EXPECT_EQ(codes[i].code, i);
        EXPECT_STREQ(SystemLogCode::text(i), codes[i].text) << "code " << i;
    }
    for (int unknown : {24, 25, 1000, -1}) {
        EXPECT_STREQ(SystemLogCode::text(unknown), "") << "code " << unknown;
    }

    const char* const levels[] = {"Fatal", "Error", "Warn", "Info", "Debug"};
    for (int level = SystemLogLevel::Fatal; level <= SystemLogLevel::Debug; ++level) {
        EXPECT_STREQ(SystemLogLevel::name(level), levels[level]) << "level " << level;
    }
    EXPECT_STREQ(SystemLogLevel::name(5), "");
    EXPECT_STREQ(SystemLogLevel::name(-1), "");
}
