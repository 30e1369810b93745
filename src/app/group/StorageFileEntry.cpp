#include "app/group/StorageFileEntry.h"

const char* StorageFileEntry::statusText(int status) {
    static constexpr const char* TEXTS[] = {"Unknown", "Good", "Not Formatted", "Not Found", "Open Error"};
    return status > Unknown && status <= OpenError ? TEXTS[status] : TEXTS[Unknown];
}
