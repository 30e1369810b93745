#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <poll.h>

#include "base/thread/LoopingThread.h"
#include "network/session/Dispatcher.h"

class ByteBuffer;

// The dispatcher of the playback service: a fixed pool of connection slots multiplexed by
// one worker thread with poll(), in rounds of at most 100 ms. Every socket call and every
// session callback happens on the worker. Other threads only change a context's interest
// and wake the worker through a socket pair (one byte at most is ever pending).
//
// A session callback that throws does not stop the worker: the connection is closed with
// reason 0 instead. A close asked for inside a callback is carried out in the next round,
// after the callback has returned.
class SelectDispatcher : public Dispatcher {
public:
    static constexpr int RoundTimeoutMs = 100;

    SelectDispatcher(int connectionCount, int listenerCount, const char* workerName);
    ~SelectDispatcher() override;
    SelectDispatcher(const SelectDispatcher&) = delete;
    SelectDispatcher& operator=(const SelectDispatcher&) = delete;

    NonBlockingSocketChannel* allocateChannel() override;
    NonBlockingServerSocketChannel* allocateServerChannel() override;
    // Opens the wake-up pair and starts the worker. Throws SocketException.
    void start() override;
    void stop() override;

    void writeRequested(SessionContextImpl& context) override;
    void receiveRequested(SessionContextImpl& context) override;
    void connectRequested(SessionContextImpl& context) override;
    void acceptRequested(SessionContextImpl& context) override;
    void closeRequested(SessionContextImpl& context) override;

    bool attach(Session& session) override;

    int connectionCount() const { return static_cast<int>(_channels.size()); }
    // Whether the calling thread is the worker.
    bool isWorkerThread() const { return Thread::currentThreadId() == _worker.id(); }
    // Contexts attached to a session right now.
    int contextsInUse() const;

private:
    class WorkerThread : public LoopingThread {
    public:
        WorkerThread(SelectDispatcher& owner, const char* name) : LoopingThread(name), _owner(owner) {}
        void runOnce() override;
        void onStop() override;

    private:
        SelectDispatcher& _owner;
    };

    void wakeUp();
    void drainWakeUp();
    void runRound();
    void stopAll();

    // Step 1: what to wait for on one context; false when it was dealt with already.
    bool prepare(SessionContextImpl& context, short& events);
    // Step 3: what readiness means for one context.
    void process(SessionContextImpl& context, short revents);
    void startConnect(SessionContextImpl& context);
    void finishConnect(SessionContextImpl& context, short revents);
    void readReady(SessionContextImpl& context);
    void writeReady(SessionContextImpl& context);
    enum class WriteOutcome { RecordFinished, WouldBlock, Failed, Unwanted };
    // Under the context lock: writes what the socket takes of the current record.
    WriteOutcome writeFront(SessionContextImpl& context);
    void acceptReady(SessionContextImpl& context);

    // Closes the channel, reports the reason and frees the context.
    void closeContext(SessionContextImpl& context, int reason, bool connecting = false);
    void detachChannel(SessionContextImpl& context);
    // Runs a session callback; a throwing callback closes that connection only.
    template <typename F>
    void report(SessionContextImpl& context, F callback);

    std::vector<std::unique_ptr<NonBlockingSocketChannel>> _channels;
    std::vector<std::unique_ptr<NonBlockingServerSocketChannel>> _serverChannels;
    std::vector<std::unique_ptr<SessionContextImpl>> _contexts;
    mutable std::mutex _poolMutex;  // channel allocation and context binding

    std::mutex _wakeMutex;
    bool _wakePending = false;
    int _wakeRead = -1;
    int _wakeWrite = -1;

    std::vector<pollfd> _pollFds;               // worker only
    std::vector<SessionContextImpl*> _polled;   // worker only, parallel to _pollFds[1..]
    std::vector<bool> _buffered;                 // worker only: _polled's with bytes read ahead
    WorkerThread _worker;
    bool _started = false;
};
