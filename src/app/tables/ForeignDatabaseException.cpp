#include "app/tables/ForeignDatabaseException.h"

#include <sqlite3.h>

ForeignDatabaseException::ForeignDatabaseException(const char* file, int line, const char* function,
                                                   const std::string& reason)
    : DatabaseException(file, line, function, SQLITE_NOTADB,
                        ("it is not a Quill Fen database: " + reason + "; it was left unchanged").c_str()) {}
