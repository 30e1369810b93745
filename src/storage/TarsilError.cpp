#include "storage/TarsilError.h"

namespace TarsilError {

const char* text(int code) {
    switch (code) {
        case NotEnoughSpace:
            return "Not enough space";
        case RepositoryMismatch:
            return "Repository is mismatch";
        case InvalidStorage:
            return "Invalid storage";
        case StorageCorrupted:
            return "Storage corrupted";
        case PageOverwritten:
            return "Page overwritten";
        case BadPageFull:
            return "Bad Page Full";
        default:
            return "Unknown exception";
    }
}

}  // namespace TarsilError
