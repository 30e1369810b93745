#pragma once

#include <string>

#include "base/IStringConvertable.h"

// Where a throw happens: the source file, line and full signature of the throwing
// function. Every throw site passes it first: `throw SystemException(QF_HERE, errno);`
#define QF_HERE __FILE__, __LINE__, __PRETTY_FUNCTION__

// Root of every error the system throws. An exception carries its own class name, where
// it was raised, an operating-system error code (0 when none applies) and a message.
// Exceptions are thrown by value and caught by reference; copies are independent, so an
// exception may be handed to another thread. Texts given as `const char*` must outlive
// the exception (literals); a message the exception builds itself is owned by it.
class Exception : public IStringConvertable {
public:
    Exception(const char* name, const char* file, int line, const char* function, int errorCode,
              const char* message);
    ~Exception() override = default;

    // "<name>: <message>\tat <function>(<file>:<line>)"
    void toString(IFormatable& out) const override;
    virtual int errorCode() const { return _errorCode; }
    // May be null when the exception has no message.
    virtual const char* message() const;

    const char* name() const { return _name; }
    const char* file() const { return _file; }
    int line() const { return _line; }
    const char* function() const { return _function; }

    // The toString text as a string, for places that need a copy (log lines, test output).
    std::string describe() const;

protected:
    // Makes the exception own its message text from here on.
    void setOwnedMessage(std::string text);

private:
    const char* _name;
    const char* _file;
    int _line;
    const char* _function;
    int _errorCode;
    const char* _message;
    std::string _ownedMessage;
    bool _ownsMessage = false;
};

// The message text of `e` for printing: never null.
inline const char* messageOf(const Exception& e) {
    return e.message() != nullptr ? e.message() : "";
}
