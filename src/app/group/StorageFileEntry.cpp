#include "app/group/StorageFileEntry.h"

const char* StorageFileEntry::statusText(int status) {
    switch (status) {
        case Good: return "Good";
        case NotFormatted: return "Not Formatted";
        case NotFound: return "Not Found";
        case OpenError: return "Open Error";
        default: return "Unknown";
    }
}
