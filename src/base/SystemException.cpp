#include "base/SystemException.h"

#include <cerrno>
#include <cstring>

std::string systemErrorText(int errorCode) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in `buffer`.
    const char* text = strerror_r(errorCode, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

SystemException::SystemException(const char* file, int line, const char* function)
    : SystemException("SystemException", file, line, function, errno) {}

SystemException::SystemException(const char* file, int line, const char* function, int errorCode)
    : SystemException("SystemException", file, line, function, errorCode) {}

SystemException::SystemException(const char* name, const char* file, int line, const char* function,
                                 int errorCode)
    : Exception(name, file, line, function, errorCode, nullptr) {
    std::string text = systemErrorText(errorCode);
    if (!text.empty()) {
        setOwnedMessage(std::move(text));
    }
}
