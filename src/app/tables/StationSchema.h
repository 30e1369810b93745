#pragma once

#include <string>
#include <vector>

class Database;

// Tells the station's own configuration database from another program's SQLite file,
// before the site and log tables read it by column position or create their tables in it.
// A database passes when it holds nothing yet, or when each of the station's tables it
// holds ("sites", "log") has exactly the station's columns in their order; one of them
// may still be missing (a first start that ended between creating the two). Other tables
// next to the station's are tolerated. Call with the database mutex held.
class StationSchema {
public:
    // Throws ForeignDatabaseException naming what does not match; reads only.
    static void verify(Database& database);

    // The column names of each table, in table order.
    static const std::vector<std::string>& siteColumns();
    static const std::vector<std::string>& logColumns();
};
