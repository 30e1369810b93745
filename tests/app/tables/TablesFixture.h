#pragma once

#include <gtest/gtest.h>

#include <string>

#include "TempDir.h"
#include "app/tables/SiteContainer.h"
#include "app/tables/SystemLogger.h"
#include "database/DataWarehouse.h"
#include "database/RowSet.h"

// A fresh app.db in a temporary directory with both tables opened, as the station has
// it after start-up. restart() closes and reopens the file and reloads the tables.
class TablesFixture : public ::testing::Test {
protected:
    void SetUp() override { restart(); }
    void TearDown() override { DataWarehouse::instance().close(); }

    void restart() {
        DataWarehouse::instance().open(dir.file("app.db"), 1000);
        // These tests commit thousands of times; durability is not what they check.
        execute("PRAGMA synchronous = OFF;");
        ASSERT_TRUE(SiteContainer::instance().load());
        ASSERT_TRUE(SystemLogger::instance().open());
    }

    static void execute(const char* sql) { DataWarehouse::instance().database().execute(sql); }

    static long long number(const std::string& sql) {
        RowSet rows(DataWarehouse::instance().database(), sql.c_str());
        return rows.next() ? rows.integer64(0) : -1;
    }

    TempDir dir;
};
