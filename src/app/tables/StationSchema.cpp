#include "app/tables/StationSchema.h"

#include <strings.h>

#include "app/tables/ForeignDatabaseException.h"
#include "database/Database.h"
#include "database/FormatableSQL.h"
#include "database/RowSet.h"

namespace {

struct SchemaObject {
    std::string type;
    std::string name;
};

bool sameName(const std::string& a, const std::string& b) {
    // The engine's own names are case-insensitive: "Sites" is the table "sites".
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::vector<SchemaObject> tablesAndViews(Database& database) {
    std::vector<SchemaObject> objects;
    RowSet rows(database,
                "SELECT type, name FROM main.sqlite_master WHERE type IN ('table','view') "
                "AND name NOT LIKE 'sqlite_%' ORDER BY name;");
    while (rows.next()) {
        objects.push_back({rows.text(0), rows.text(1)});
    }
    return objects;
}

std::vector<std::string> columnsOf(Database& database, const std::string& table) {
    std::vector<std::string> columns;
    RowSet rows(database, FormatableSQL("PRAGMA main.table_info(\"%w\");", table.c_str()).c_str());
    while (rows.next()) {
        columns.emplace_back(rows.text(1));
    }
    return columns;
}

bool sameColumns(const std::vector<std::string>& found, const std::vector<std::string>& expected) {
    if (found.size() != expected.size()) {
        return false;
    }
    for (size_t i = 0; i < found.size(); ++i) {
        if (!sameName(found[i], expected[i])) {
            return false;
        }
    }
    return true;
}

std::string joined(const std::vector<std::string>& names, size_t most) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < most; ++i) {
        text += (i > 0 ? ", " : "") + names[i];
    }
    if (names.size() > most) {
        text += ", ...";
    }
    return text;
}

void verifyTable(Database& database, const SchemaObject& object, const std::vector<std::string>& expected) {
    if (object.type != "table") {
        throw ForeignDatabaseException(QF_HERE, "\"" + object.name + "\" is a " + object.type + ", not a table");
    }
    std::vector<std::string> found = columnsOf(database, object.name);
    if (!sameColumns(found, expected)) {
        throw ForeignDatabaseException(QF_HERE, "its table \"" + object.name + "\" has the columns (" +
                                                    joined(found, 8) + "), not the station's");
    }
}

}  // namespace

void StationSchema::verify(Database& database) {
    std::vector<SchemaObject> objects = tablesAndViews(database);
    bool stationTable = false;
    std::vector<std::string> others;
    for (const SchemaObject& object : objects) {
        if (sameName(object.name, "sites")) {
            verifyTable(database, object, siteColumns());
            stationTable = true;
        } else if (sameName(object.name, "log")) {
            verifyTable(database, object, logColumns());
            stationTable = true;
        } else {
            others.push_back(object.name);
        }
    }
    if (!stationTable && !others.empty()) {
        throw ForeignDatabaseException(QF_HERE, "it holds other tables (" + joined(others, 5) +
                                                    ") and neither \"sites\" nor \"log\"");
    }
}

const std::vector<std::string>& StationSchema::siteColumns() {
    static const std::vector<std::string> columns = {
        "id",        "name",       "address",       "port",          "username",         "password",
        "storageGroupFile", "timeToStart", "overwrite", "archiving", "rescheduled", "schedule",
        "alwaysArchive", "timeArchiveStart", "timeArchiveStop", "deleted"};
    return columns;
}

const std::vector<std::string>& StationSchema::logColumns() {
    static const std::vector<std::string> columns = {"id", "level", "date", "time", "owner", "log", "message"};
    return columns;
}
