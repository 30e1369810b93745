#pragma once

#include "base/DatabaseException.h"

// Thrown when a new site cannot be stored because the site table holds its maximum of
// live sites. Unlike other database errors of the site table it reaches the caller, who
// tells the user to delete a site first. The error code is the engine's "full" code.
class SiteLimitException : public DatabaseException {
public:
    SiteLimitException(const char* file, int line, const char* function, int maxSites);
};
