#pragma once

class SessionContext;

// What the dispatcher reports to the owner of a connection. Every call comes from the
// dispatcher's worker thread, never with a dispatcher lock held, so a session may call its
// context (send, receive, close) from inside any of them. A close requested from inside a
// callback is carried out after the callback returns.
class Session {
public:
    virtual ~Session() = default;
    // The context the dispatcher attached this session to (null when detached).
    virtual void setContext(SessionContext* context) = 0;
    virtual void connectCompleted() = 0;
    virtual void connectFailed(int reason) = 0;
    // The connection ended; the context is reset right after this returns.
    virtual void connectionClosed(int reason) = 0;
    // One queued packet has been written completely.
    virtual void sendCompleted() = 0;
    // The buffer given to receive() has been filled; `bytes` arrived for it.
    virtual void receiveCompleted(int bytes) = 0;
};
