#include "app/tables/SiteLimitException.h"

#include <sqlite3.h>

#include <string>

SiteLimitException::SiteLimitException(const char* file, int line, const char* function, int maxSites)
    : DatabaseException(file, line, function, SQLITE_FULL,
                        ("cannot add the site: " + std::to_string(maxSites) +
                         " sites already exist; delete a site before adding another")
                            .c_str()) {}
