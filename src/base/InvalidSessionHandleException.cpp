#include "base/InvalidSessionHandleException.h"

InvalidSessionHandleException::InvalidSessionHandleException(const char* file, int line, const char* function, int errorCode, const char* message)
    : Exception("InvalidSessionHandleException", file, line, function, errorCode, nullptr) {
    if (message != nullptr) {
        setOwnedMessage(message);
    }
}
