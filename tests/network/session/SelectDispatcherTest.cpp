#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <poll.h>

#include "base/ByteBuffer.h"
#include "network/session/DisconnectReason.h"
#include "network/session/SelectDispatcher.h"
#include "network/session/Session.h"
#include "network/session/SessionContext.h"
#include "network/socket/ServerSocketChannel.h"
#include "network/socket/SocketApiWrapper.h"
#include "network/socket/SocketChannel.h"

namespace {

using namespace std::chrono_literals;

// Records what the dispatcher reports; tests wait on it with a generous bound.
class RecordingSession : public Session {
public:
    void setContext(SessionContext* context) override { _context = context; }
    void connectCompleted() override { note([this] { connected = true; }); }
    void connectFailed(int reason) override { note([this, reason] { failedWith = reason; }); }
    void connectionClosed(int reason) override { note([this, reason] { closedWith = reason; }); }
    void sendCompleted() override { note([this] { ++sent; }); }
    void receiveCompleted(int bytes) override {
        if (throwOnReceive) {
            throw std::runtime_error("parser failed");
        }
        note([this, bytes] { received += bytes; });
    }

    // Looks again every few milliseconds too: some conditions are the dispatcher's own.
    bool waitFor(const std::function<bool()>& condition) {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        std::unique_lock<std::mutex> lock(_mutex);
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            _changed.wait_for(lock, 2ms);
        }
        return true;
    }

    SessionContext& context() { return *_context; }

    bool connected = false;
    int failedWith = -1;
    int closedWith = -1;
    int sent = 0;
    int received = 0;
    bool throwOnReceive = false;
    std::mutex _mutex;

private:
    void note(const std::function<void()>& change) {
        std::lock_guard<std::mutex> guard(_mutex);
        change();
        _changed.notify_all();
    }

    SessionContext* _context = nullptr;
    std::condition_variable _changed;
};

// Whether `fd` becomes readable within the bound.
bool readableSoon(int fd) {
    pollfd ready{fd, POLLIN, 0};
    return SocketApiWrapper::poll(&ready, 1, 10000) > 0;
}

// A loopback listener standing in for a recorder. Its calls block, each for a few seconds
// at most.
class Peer {
public:
    Peer() {
        _listener.open();
        _listener.bind(SocketAddress("127.0.0.1", 0), 16);
    }
    SocketAddress address() const { return SocketAddress("127.0.0.1", _listener.localAddress().port()); }
    SocketChannel& accept() {
        bool accepted = readableSoon(_listener.socket()) && _listener.accept(_accepted);
        EXPECT_TRUE(accepted) << "no connection came";
        return _accepted;
    }
    std::vector<uint8_t> readExactly(int n) {
        std::vector<uint8_t> bytes(static_cast<size_t>(n));
        int done = 0;
        while (done < n && readableSoon(_accepted.socket())) {
            int got = SocketApiWrapper::recv(_accepted.socket(), bytes.data() + done, n - done);
            if (got <= 0) {
                break;
            }
            done += got;
        }
        bytes.resize(static_cast<size_t>(done));
        return bytes;
    }

private:
    ServerSocketChannel _listener;
    SocketChannel _accepted;
};

uint16_t refusedPort() {
    ServerSocketChannel listener;
    listener.open();
    listener.bind(SocketAddress("127.0.0.1", 0), 1);
    uint16_t port = listener.localAddress().port();
    listener.close();
    return port;
}

// A record whose first byte tells it apart.
ByteBuffer recordOf(int length, uint8_t tag) {
    ByteBuffer buffer(length);
    for (int i = 0; i < length; ++i) {
        buffer.put(tag);
    }
    buffer.flip();
    return buffer;
}

}  // namespace

TEST(SelectDispatcher, ConnectToRefusedPortReportsConnectFailed111) {
    RecordingSession session;  // outlives the dispatcher, which reports to it until stopped
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(SocketAddress("127.0.0.1", refusedPort()));
    ASSERT_TRUE(session.waitFor([&] { return session.failedWith != -1; }));
    EXPECT_EQ(session.failedWith, DisconnectReason::ConnectionRefused);
    EXPECT_TRUE(session.waitFor([&] { return dispatcher.contextsInUse() == 0; }));
}

TEST(SelectDispatcher, PeerClosingDuringAnOutstandingReceiveReports102) {
    RecordingSession session;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(peer.address());
    SocketChannel& accepted = peer.accept();
    ASSERT_TRUE(session.waitFor([&] { return session.connected; }));

    ByteBuffer buffer(8);
    session.context().receive(&buffer);
    const char half[4] = {1, 2, 3, 4};
    SocketApiWrapper::send(accepted.socket(), half, 4);
    accepted.close();
    ASSERT_TRUE(session.waitFor([&] { return session.closedWith != -1; }));
    EXPECT_EQ(session.closedWith, DisconnectReason::PeerClosed);
    EXPECT_EQ(session.received, 0);
}

TEST(SelectDispatcher, UrgentPacketsOvertakeQueuedNormalOnesButNotTheOneBeingWritten) {
    RecordingSession session;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(peer.address());
    peer.accept();
    ASSERT_TRUE(session.waitFor([&] { return session.connected; }));

    SessionContext& context = session.context();
    ByteBuffer n1 = recordOf(100, 'a');
    ByteBuffer n2 = recordOf(100, 'b');
    ByteBuffer n3 = recordOf(100, 'c');
    ByteBuffer u1 = recordOf(20, 'U');
    // Holding the context lock keeps the worker from writing while the queues fill.
    context.lock();
    EXPECT_TRUE(context.send(n1, Priority::Normal));
    EXPECT_TRUE(context.send(n2, Priority::Normal));
    EXPECT_TRUE(context.send(n3, Priority::Normal));
    EXPECT_TRUE(context.send(u1, Priority::Urgent));
    EXPECT_EQ(context.queuedPackets(), 4);
    context.unlock();

    std::vector<uint8_t> stream = peer.readExactly(320);
    ASSERT_EQ(stream.size(), 320u);
    std::string order;
    for (size_t i = 0; i < stream.size(); i += stream[i] == 'U' ? 20 : 100) {
        order.push_back(static_cast<char>(stream[i]));
    }
    EXPECT_EQ(order, "aUbc");
    EXPECT_TRUE(session.waitFor([&] { return session.sent == 4; }));
}

TEST(SelectDispatcher, SendAfterACloseWasAskedForIsRefusedAndNothingMoreIsWritten) {
    RecordingSession session;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(peer.address());
    peer.accept();
    ASSERT_TRUE(session.waitFor([&] { return session.connected; }));

    SessionContext& context = session.context();
    ByteBuffer late = recordOf(10, 'z');
    // Holding the context lock keeps the worker from freeing the context meanwhile, so the
    // send meets a close under way, not a closed context.
    context.lock();
    EXPECT_TRUE(context.close(0));
    EXPECT_FALSE(context.send(late, Priority::Normal));
    context.unlock();
    ASSERT_TRUE(session.waitFor([&] { return session.closedWith != -1; }));
    EXPECT_TRUE(peer.readExactly(1).empty());
    EXPECT_EQ(session.sent, 0);
}

TEST(SelectDispatcher, PacketLargerThanItsQueueIsRefused) {
    RecordingSession session;
    SelectDispatcher dispatcher(1, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(peer.address());
    peer.accept();
    ASSERT_TRUE(session.waitFor([&] { return session.connected; }));

    ByteBuffer huge(1048577);
    huge.setPosition(0);
    EXPECT_FALSE(session.context().send(huge, Priority::Normal));
    ByteBuffer urgent(5200);
    EXPECT_FALSE(session.context().send(urgent, Priority::Urgent));
    EXPECT_FALSE(session.context().hasRoom(1048577));
    EXPECT_TRUE(session.context().hasRoom(1000));
}

TEST(SelectDispatcher, PoolRefusesAttachBeyondItsConnectionCount) {
    RecordingSession a, b, c;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    EXPECT_TRUE(dispatcher.attach(a));
    EXPECT_TRUE(dispatcher.attach(b));
    EXPECT_FALSE(dispatcher.attach(c));
    EXPECT_EQ(dispatcher.contextsInUse(), 2);
}

TEST(SelectDispatcher, StoppingReportsReason201ToEveryLiveConnection) {
    RecordingSession sessions[3];
    SelectDispatcher dispatcher(3, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    for (auto& session : sessions) {
        ASSERT_TRUE(dispatcher.attach(session));
        session.context().connect(peer.address());
        peer.accept();
        ASSERT_TRUE(session.waitFor([&] { return session.connected; }));
    }
    dispatcher.stop();
    for (auto& session : sessions) {
        EXPECT_EQ(session.closedWith, DisconnectReason::DispatcherStopped);
    }
    EXPECT_EQ(dispatcher.contextsInUse(), 0);
}

TEST(SelectDispatcher, ThrowingCallbackClosesOnlyItsConnectionAndTheWorkerGoesOn) {
    RecordingSession faulty;
    RecordingSession healthy;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    faulty.throwOnReceive = true;
    ASSERT_TRUE(dispatcher.attach(faulty));
    faulty.context().connect(peer.address());
    SocketChannel& accepted = peer.accept();
    ASSERT_TRUE(faulty.waitFor([&] { return faulty.connected; }));
    ByteBuffer buffer(4);
    faulty.context().receive(&buffer);
    const char bytes[4] = {1, 2, 3, 4};
    SocketApiWrapper::send(accepted.socket(), bytes, 4);
    ASSERT_TRUE(faulty.waitFor([&] { return faulty.closedWith != -1; }));
    EXPECT_EQ(faulty.closedWith, DisconnectReason::Other);

    ASSERT_TRUE(dispatcher.attach(healthy));
    healthy.context().connect(peer.address());
    peer.accept();
    EXPECT_TRUE(healthy.waitFor([&] { return healthy.connected; }));
}

// Small records that one receive brought together are all delivered, also when the peer
// then sends nothing more: bytes read ahead wait in the channel, not in the socket, so
// the round must not wait for the socket to become readable again.
TEST(SelectDispatcher, RecordsReadAheadInOneBurstAreAllDeliveredWithoutMoreTraffic) {
    constexpr int Records = 300;
    constexpr int RecordSize = 8;
    class RearmingSession : public RecordingSession {
    public:
        void receiveCompleted(int bytes) override {
            RecordingSession::receiveCompleted(bytes);
            buffer.clear();
            context().receive(&buffer);
        }
        ByteBuffer buffer{RecordSize};
    };
    RearmingSession session;
    SelectDispatcher dispatcher(2, 0, "test dispatcher");
    dispatcher.start();
    Peer peer;
    ASSERT_TRUE(dispatcher.attach(session));
    session.context().connect(peer.address());
    SocketChannel& accepted = peer.accept();
    ASSERT_TRUE(session.waitFor([&] { return session.connected; }));
    session.context().receive(&session.buffer);
    ByteBuffer burst = recordOf(Records * RecordSize, 7);
    while (burst.remaining() > 0) {
        ASSERT_GT(accepted.write(burst), 0);
    }
    EXPECT_TRUE(session.waitFor([&] { return session.received == Records * RecordSize; }))
        << "delivered " << session.received << " of " << Records * RecordSize << " bytes";
    EXPECT_TRUE(session.waitFor([&] { return session.closedWith == -1; }));
}
