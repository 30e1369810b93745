#include "base/SendQueueOverflowException.h"

SendQueueOverflowException::SendQueueOverflowException(const char* file, int line, const char* function, int errorCode, const char* message)
    : Exception("SendQueueOverflowException", file, line, function, errorCode, nullptr) {
    if (message != nullptr) {
        setOwnedMessage(message);
    }
}
