#pragma once

#include <string>

#include "base/DatabaseException.h"

// Thrown when the configuration database file is not the station's: another program's
// SQLite file whose tables the station must neither read by position nor add to. Unlike
// other database errors of the tables it reaches the caller, who tells the user which
// file it is. The error code is the engine's "not a database" code.
class ForeignDatabaseException : public DatabaseException {
public:
    ForeignDatabaseException(const char* file, int line, const char* function, const std::string& reason);
};
