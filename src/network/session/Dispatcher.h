#pragma once

class NonBlockingServerSocketChannel;
class NonBlockingSocketChannel;
class Session;
class SessionContextImpl;

// Owns the sockets of a set of connections and performs all their socket work on its own
// thread. Sessions are attached to free slots and then talk to their SessionContext; the
// context notifies the dispatcher of every new interest so the worker notices it at once.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;

    // Opens the first free connection (listener) channel; null when all are in use.
    virtual NonBlockingSocketChannel* allocateChannel() = 0;
    virtual NonBlockingServerSocketChannel* allocateServerChannel() = 0;
    virtual void start() = 0;
    // Stops the worker; every live connection is reported closed with reason 201.
    virtual void stop() = 0;

    // Notifications from the contexts; they never block on the worker.
    virtual void writeRequested(SessionContextImpl& context) = 0;
    virtual void receiveRequested(SessionContextImpl& context) = 0;
    virtual void connectRequested(SessionContextImpl& context) = 0;
    virtual void acceptRequested(SessionContextImpl& context) = 0;
    virtual void closeRequested(SessionContextImpl& context) = 0;

    // Gives `session` a free connection slot (session.setContext is called). False, with a
    // trace line, when no channel or context is free.
    virtual bool attach(Session& session) = 0;
};
