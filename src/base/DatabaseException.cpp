#include "base/DatabaseException.h"

DatabaseException::DatabaseException(const char* file, int line, const char* function, int errorCode, const char* message)
    : Exception("DatabaseException", file, line, function, errorCode, nullptr) {
    if (message != nullptr) {
        setOwnedMessage(message);
    }
}
