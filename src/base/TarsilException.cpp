#include "base/TarsilException.h"

TarsilException::TarsilException(const char* file, int line, const char* function, int errorCode, const char* message)
    : Exception("TarsilException", file, line, function, errorCode, nullptr) {
    if (message != nullptr) {
        setOwnedMessage(message);
    }
}
