#include <gtest/gtest.h>

#include <cerrno>

#include "base/ByteBuffer.h"
#include "base/SocketAddressInfoException.h"
#include "base/SocketException.h"
#include "network/socket/NonBlockingSocketChannel.h"
#include "network/socket/ServerSocketChannel.h"
#include "network/socket/SocketAddress.h"
#include "network/socket/SocketChannel.h"

TEST(SocketAddress, DottedAddressIsKeptAsGivenAndNamesResolveToIpv4) {
    SocketAddress dotted("127.0.0.1", 4000);
    EXPECT_STREQ(dotted.ipText(), "127.0.0.1");
    EXPECT_STREQ(dotted.hostName(), "127.0.0.1");
    EXPECT_EQ(dotted.port(), 4000);
    EXPECT_FALSE(dotted.isUnset());
    EXPECT_EQ(dotted.toString(), "127.0.0.1:4000");

    SocketAddress named("localhost", 80);
    EXPECT_STREQ(named.hostName(), "localhost");
    EXPECT_STREQ(named.ipText(), "127.0.0.1");
    EXPECT_TRUE(SocketAddress().isUnset());
}

TEST(SocketAddress, NamesUnderTheInvalidDomainFailWithHostNotFound) {
    for (const char* name : {"recorder.invalid", "RECORDER.INVALID.", "invalid"}) {
        try {
            SocketAddress address(name, 4000);
            ADD_FAILURE() << name << " resolved to " << address.ipText();
        } catch (const SocketAddressInfoException& e) {
            EXPECT_EQ(e.errorCode(), SocketAddress::HostNotFound) << name;
        }
    }
}

TEST(SocketChannel, BlockingConnectTransfersBytesAndRefusalThrowsTheErrno) {
    ServerSocketChannel listener;
    listener.open();
    EXPECT_THROW(
        {
            SocketChannel unused;
            listener.accept(unused);
        },
        SocketException);
    listener.bind(SocketAddress("127.0.0.1", 0), 4);
    SocketAddress target("127.0.0.1", listener.localAddress().port());

    SocketChannel client;
    client.open();
    ASSERT_TRUE(client.connect(target));
    SocketChannel server;
    ASSERT_TRUE(listener.accept(server));
    EXPECT_EQ(client.remoteAddress().port(), target.port());

    ByteBuffer out(5);
    out.put("hello", 5);
    out.flip();
    EXPECT_EQ(client.write(out), 5);
    EXPECT_EQ(out.remaining(), 0);
    ByteBuffer in(5);
    while (in.remaining() > 0) {
        ASSERT_GT(server.read(in), 0);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(in.data()), 5), "hello");

    client.close();
    ByteBuffer after(1);
    EXPECT_EQ(server.read(after), 0);  // orderly close

    listener.close();
    SocketChannel refused;
    refused.open();
    try {
        refused.connect(target);
        ADD_FAILURE() << "connect to a closed port succeeded";
    } catch (const SocketException& e) {
        EXPECT_EQ(e.errorCode(), ECONNREFUSED);
    }
}

TEST(SocketChannel, NonBlockingReadWithNothingThereWouldBlock) {
    ServerSocketChannel listener;
    listener.open();
    listener.bind(SocketAddress("127.0.0.1", 0), 4);
    NonBlockingSocketChannel client;
    client.open();
    client.connect(SocketAddress("127.0.0.1", listener.localAddress().port()));
    SocketChannel server;
    ASSERT_TRUE(listener.accept(server));
    ByteBuffer in(4);
    EXPECT_EQ(client.read(in), SocketChannel::WouldBlock);
    EXPECT_EQ(in.position(), 0);
}

// With read-ahead a run of small reads is served from one receive, in order, and what is
// left of it goes with the connection: a channel opened again starts with nothing.
TEST(SocketChannel, ReadAheadServesSmallReadsInOrderAndForgetsTheRestAtClose) {
    ServerSocketChannel listener;
    listener.open();
    listener.bind(SocketAddress("127.0.0.1", 0), 4);
    SocketAddress target("127.0.0.1", listener.localAddress().port());
    SocketChannel client;
    client.setReadAhead(64);
    client.open();
    ASSERT_TRUE(client.connect(target));
    SocketChannel server;
    ASSERT_TRUE(listener.accept(server));

    std::string sent;
    for (int i = 0; i < 40; ++i) {
        sent += static_cast<char>('a' + i % 26);
    }
    ByteBuffer out(static_cast<int>(sent.size()));
    out.put(sent.data(), static_cast<int>(sent.size()));
    out.flip();
    ASSERT_EQ(server.write(out), static_cast<int>(sent.size()));
    std::string got;
    while (got.size() < 30) {
        ByteBuffer in(3);
        ASSERT_GT(client.read(in), 0);
        got.append(reinterpret_cast<char*>(in.data()), static_cast<size_t>(in.position()));
    }
    EXPECT_EQ(got, sent.substr(0, 30));
    EXPECT_TRUE(client.hasBufferedInput()) << "one receive should have brought all 40 bytes";

    client.close();
    EXPECT_FALSE(client.hasBufferedInput());
    client.open();
    ASSERT_TRUE(client.connect(target));
    SocketChannel second;
    ASSERT_TRUE(listener.accept(second));
    second.close();
    ByteBuffer in(4);
    EXPECT_EQ(client.read(in), 0) << "the new connection delivered bytes of the old one";
    EXPECT_EQ(in.position(), 0);
}
