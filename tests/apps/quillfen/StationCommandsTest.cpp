#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogCode.h"
#include "app/tables/SystemLogger.h"
#include "app/util/DataDirectory.h"
#include "base/Clock.h"
#include "base/TextOf.h"
#include "database/DataWarehouse.h"
#include "database/Database.h"

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

// Runs the quillfen program with `args` and collects what it printed. A run that does not
// end within 30 s is killed and exits with 124.
Outcome quillfen(const TempDir& scratch, const std::vector<std::string>& args) {
    std::string command = std::string("timeout -k 5 30 ") + QUILLFEN_BINARY;
    for (const std::string& arg : args) {
        command += " " + shellQuoted(arg);
    }
    std::string outPath = scratch.file("stdout.txt");
    std::string errPath = scratch.file("stderr.txt");
    command += " >" + shellQuoted(outPath) + " 2>" + shellQuoted(errPath);
    Outcome run;
    int status = std::system(command.c_str());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    return run;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

int lineCount(const std::string& text) {
    int lines = 0;
    for (char c : text) {
        lines += c == '\n';
    }
    return lines;
}

class StationCommandsTest : public ::testing::Test {
protected:
    // Fills `dataDir` with sites and log entries as the running station would.
    void populate() {
        DataDirectory::prepare(dataDir);
        DataWarehouse::instance().open(DataDirectory::databasePath(dataDir).string(), 1000);
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
        auto gate = std::make_unique<RecordSite>();
        gate->setName("Gate 'North' 100%");
        gate->setAddress("10.1.2.3");
        gate->setPort(5100);
        gate->setPassword("hunter2'%s");
        gate->setArchiving(true);
        gateId = SiteContainer::instance().add(std::move(gate))->id();
        auto yard = std::make_unique<RecordSite>();
        yard->setName("Yard\x1b[31m");
        yard->setAddress("yard.example.org");
        yard->setPort(8000);
        yard->setPassword("tr0ub4dor");
        yardId = SiteContainer::instance().add(std::move(yard))->id();
        SiteContainer::instance().remove(*SiteContainer::instance().find(yardId));

        ManualClock clock(DateTime(2024, 5, 1, 8, 0, 0, 3600));
        SystemLogger::instance().info(gateId, SystemLogCode::ScheduleAdded);
        clock.set(DateTime(2024, 5, 2, 9, 30, 0, 3600));
        SystemLogger::instance().error(gateId, SystemLogCode::ConnectionRefused, "port 5100");
        clock.set(DateTime(2024, 5, 3, 10, 0, 0, 3600));
        SystemLogger::instance().info(yardId, SystemLogCode::ScheduleDeleted);
        DataWarehouse::instance().close();
    }

    TempDir dir;
    std::filesystem::path dataDir = dir.path() / "data";
    UniqueID gateId;
    UniqueID yardId;
};

}  // namespace

TEST_F(StationCommandsTest, FirstRunCreatesPrivateDatabaseWithBothTables) {
    Outcome run = quillfen(dir, {"sites", "--data-dir", (dir.path() / "new/quillfen").string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "No sites.\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "new/quillfen/app.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir.path() / "new/quillfen").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    DataWarehouse::instance().open((dir.path() / "new/quillfen/app.db").string(), 1000);
    std::vector<std::string> names;
    DataWarehouse::instance().database().tableNames(names);
    DataWarehouse::instance().close();
    EXPECT_EQ(names, (std::vector<std::string>{"log", "sites"}));
}

TEST_F(StationCommandsTest, SitesListsEverySiteAndNeverAPassword) {
    populate();
    Outcome run = quillfen(dir, {"--data-dir", dataDir.string(), "sites"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(lineCount(run.out), 3) << run.out;
    EXPECT_TRUE(contains(run.out, "NAME")) << run.out;
    EXPECT_TRUE(contains(run.out, "Gate 'North' 100%  10.1.2.3          5100  yes        no       " + textOf(gateId)))
        << run.out;
    // The escape sequence in the name reaches the terminal defused.
    EXPECT_TRUE(contains(run.out, "Yard?[31m")) << run.out;
    EXPECT_FALSE(contains(run.out, "\x1b"));
    EXPECT_TRUE(contains(run.out, "8000  no         yes")) << run.out;
    EXPECT_FALSE(contains(run.out, "hunter2"));
    EXPECT_FALSE(contains(run.out, "tr0ub4dor"));
    EXPECT_TRUE(run.err.empty()) << run.err;
}

TEST_F(StationCommandsTest, LogShowsNewestFirstWithTextsAndFilters) {
    populate();
    Outcome all = quillfen(dir, {"log", "--data-dir", dataDir.string()});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    std::istringstream lines(all.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), 4u) << all.out;
    EXPECT_TRUE(contains(rows[1], "2024/05/03  10:00:00  Info   Yard?[31m")) << rows[1];
    EXPECT_TRUE(contains(rows[1], "Schedule deleted")) << rows[1];
    EXPECT_TRUE(contains(rows[2], "2024/05/02  09:30:00  Error  Gate 'North' 100%  Connection refused : port 5100"))
        << rows[2];
    EXPECT_TRUE(contains(rows[3], "Schedule added")) << rows[3];

    Outcome ranged = quillfen(dir, {"log", "--data-dir", dataDir.string(), "--from", "2024-05-02", "--to", "2024/05/02"});
    ASSERT_EQ(ranged.exitCode, 0) << ranged.err;
    EXPECT_EQ(lineCount(ranged.out), 2) << ranged.out;
    EXPECT_TRUE(contains(ranged.out, "Connection refused")) << ranged.out;

    Outcome byName = quillfen(dir, {"log", "--data-dir", dataDir.string(), "--site", "Gate 'North' 100%"});
    ASSERT_EQ(byName.exitCode, 0) << byName.err;
    EXPECT_EQ(lineCount(byName.out), 3) << byName.out;
    EXPECT_FALSE(contains(byName.out, "Schedule deleted"));

    // A deleted site is still found, by its id here.
    Outcome byId = quillfen(dir, {"log", "--data-dir", dataDir.string(), "--site", textOf(yardId)});
    ASSERT_EQ(byId.exitCode, 0) << byId.err;
    EXPECT_EQ(lineCount(byId.out), 2) << byId.out;

    Outcome none = quillfen(dir, {"log", "--data-dir", dataDir.string(), "--to", "2024-04-30"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "No log entries.\n");
}

TEST_F(StationCommandsTest, BadInputGetsOneLineErrorAndFailureExit) {
    populate();
    auto expectError = [&](const std::vector<std::string>& args, const std::string& part) {
        Outcome run = quillfen(dir, args);
        EXPECT_NE(run.exitCode, 0) << part;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_TRUE(contains(run.err, part)) << run.err;
    };
    std::string data = dataDir.string();
    expectError({"log", "--data-dir", data, "--from", "2024-02-30"}, "'2024-02-30' is not a date");
    expectError({"log", "--data-dir", data, "--to", "yesterday"}, "'yesterday' is not a date");
    expectError({"log", "--data-dir", data, "--from", "2024-05-03", "--to", "2024-05-01"}, "is after --to");
    expectError({"log", "--data-dir", data, "--site", "Nowhere"}, "no site is named or has the id 'Nowhere'");

    std::ofstream(dir.file("plain-file")) << "x";
    expectError({"sites", "--data-dir", dir.file("plain-file") + "/data"}, "Not a directory");
    std::filesystem::create_directory(dir.path() / "junk");
    std::ofstream(dir.file("junk/app.db")) << "this is not a database, just some text long enough";
    expectError({"sites", "--data-dir", dir.file("junk")}, "file is not a database");
}

TEST_F(StationCommandsTest, AnotherProgramsDatabaseIsRefusedInOneLineAndLeftUnchanged) {
    DataDirectory::prepare(dataDir);
    std::string path = DataDirectory::databasePath(dataDir).string();
    {
        Database other;
        other.open(path.c_str(), 0);
        other.execute("CREATE TABLE sites (id INTEGER PRIMARY KEY, url TEXT, title TEXT);"
                      "INSERT INTO sites (url, title) VALUES ('https://example.org', 'Example');");
    }
    std::string before = slurp(path);
    for (const char* command : {"sites", "log"}) {
        Outcome run = quillfen(dir, {command, "--data-dir", dataDir.string()});
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_TRUE(contains(run.err, "quillfen: cannot use " + path + ": it is not a Quill Fen database: its table "
                                      "\"sites\" has the columns (id, url, title)"))
            << run.err;
    }
    EXPECT_EQ(slurp(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}

TEST_F(StationCommandsTest, SiteRowWithAnUnreadableIdIsNamedAndListedTheSameEveryRun) {
    populate();
    {
        Database db;
        db.open(DataDirectory::databasePath(dataDir).c_str(), 0);
        db.execute("INSERT INTO sites VALUES ('gate-7', 'Broken', 'nvr', 5100, 'u', 'p', '', '', 0, 0, 0, 0, 1, "
                   "'', '', 0);");
    }
    Outcome first = quillfen(dir, {"sites", "--data-dir", dataDir.string()});
    Outcome second = quillfen(dir, {"sites", "--data-dir", dataDir.string()});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(lineCount(first.out), 3) << first.out;
    EXPECT_FALSE(contains(first.out, "Broken")) << first.out;
    EXPECT_EQ(first.err,
              "quillfen: a row of the sites table is left out: its id is not a valid id (site 'Broken', id 'gate-7')\n");
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.err, first.err);
}
