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
