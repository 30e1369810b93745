#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"

namespace {

int reasonOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ByteBufferException& e) {
        return e.reason();
    }
    return -1;
}

}  // namespace

TEST(ByteBuffer, RelativePutsOverflowAndGetsUnderflowAtTheLimit) {
    ByteBuffer b(16);
    for (int i = 0; i < 4; ++i) b.putInt(static_cast<uint32_t>(i));
    EXPECT_EQ(reasonOf([&] { b.putInt(4); }), ByteBufferException::Overflow);
    EXPECT_EQ(reasonOf([&] { b.put(uint8_t{1}); }), ByteBufferException::Overflow);
    EXPECT_EQ(b.position(), 16);
    b.flip();
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(b.getInt(), i);
    EXPECT_EQ(reasonOf([&] { b.getInt(); }), ByteBufferException::Underflow);
    EXPECT_EQ(reasonOf([&] { b.get(); }), ByteBufferException::Underflow);

    b.clear();
    b.setPosition(13);
    EXPECT_EQ(reasonOf([&] { b.putLong(1); }), ByteBufferException::Overflow);
    EXPECT_EQ(reasonOf([&] { b.putShort(1); b.putShort(1); }), ByteBufferException::Overflow);
    EXPECT_EQ(b.position(), 15);
}

TEST(ByteBuffer, MultiByteValuesFollowTheByteOrder) {
    ByteBuffer b(16);
    b.setOrder(ByteOrder::BigEndian);
    b.putShort(0x0617);
    b.putInt(0x01020304);
    b.setOrder(HostByteOrder);
    b.putShort(0x0617);
    const uint8_t expected[] = {0x06, 0x17, 0x01, 0x02, 0x03, 0x04, 0x17, 0x06};
    EXPECT_EQ(0, memcmp(b.data(), expected, 8));
    b.flip();
    b.setOrder(ByteOrder::BigEndian);
    EXPECT_EQ(b.getShort(), 0x0617u);
    EXPECT_EQ(b.getIntAt(2), 0x01020304u);
    EXPECT_EQ(b.position(), 2);

}

TEST(ByteBuffer, StringsCarryLengthCharactersAndTerminator) {
    ByteBuffer b(32);
    b.setOrder(ByteOrder::BigEndian);
    b.putString("ab");
    b.putString("");
    b.putString("hello");
    const uint8_t expected[] = {0x00, 0x02, 'a', 'b', 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(b.data(), expected, 8));
    b.flip();
    EXPECT_STREQ(b.getString(), "ab");
    EXPECT_STREQ(b.getString(), "");
    char cut[3];
    b.getString(cut, sizeof cut);
    EXPECT_STREQ(cut, "he");
    EXPECT_EQ(b.remaining(), 0);

    // A string whose terminator is not 0, or whose length runs past the data.
    b.clear();
    b.putString("ab");
    b.data()[4] = 'x';
    b.flip();
    EXPECT_EQ(reasonOf([&] { b.getString(); }), ByteBufferException::IllegalArgument);
    b.clear();
    b.putShort(10);
    b.put("ab", 2);
    b.flip();
    EXPECT_EQ(reasonOf([&] { b.getString(); }), ByteBufferException::IllegalArgument);
}

TEST(ByteBuffer, StringTooLongForItsLengthFieldIsRefusedBeforeWriting) {
    ByteBuffer b(70000);
    std::string text(65536, 'x');
    EXPECT_EQ(reasonOf([&] { b.putString(text.c_str()); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(b.position(), 0);
    EXPECT_EQ(reasonOf([&] { b.putString(nullptr); }), ByteBufferException::IllegalArgument);
    text.pop_back();
    b.putString(text.c_str());
    EXPECT_EQ(b.position(), 2 + 65535 + 1);
}

TEST(ByteBuffer, CursorControlRejectsIllegalValuesWithoutMovingAnything) {
    ByteBuffer b(16);
    b.setPosition(10);
    EXPECT_EQ(reasonOf([&] { b.setLimit(9); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(b.position(), 10);
    EXPECT_EQ(b.limit(), 16);
    EXPECT_EQ(reasonOf([&] { b.setLimit(17); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(reasonOf([&] { b.setPosition(-1); }), ByteBufferException::IllegalArgument);
    b.setLimit(12);
    EXPECT_EQ(reasonOf([&] { b.setPosition(13); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(reasonOf([&] { b.skip(3); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(reasonOf([&] { b.reset(); }), ByteBufferException::InvalidMark);
    b.mark();
    b.skip(2);
    b.reset();
    EXPECT_EQ(b.position(), 10);
    b.setPosition(4);  // before the mark: the mark is dropped
    EXPECT_EQ(reasonOf([&] { b.reset(); }), ByteBufferException::InvalidMark);
    EXPECT_EQ(reasonOf([] { ByteBuffer negative(-1); }), ByteBufferException::IllegalArgument);
}

TEST(ByteBuffer, AbsoluteAccessChecksItsIndexAndKeepsThePosition) {
    ByteBuffer b(8);
    b.setPosition(3);
    b.putShortAt(0, 0xAABB);
    b.putIntAt(4, 0x01020304);
    EXPECT_EQ(b.position(), 3);
    EXPECT_EQ(reasonOf([&] { b.putIntAt(6, 1); }), ByteBufferException::Overflow);
    EXPECT_EQ(b.position(), 3);
    EXPECT_EQ(reasonOf([&] { b.putShortAt(9, 1); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(reasonOf([&] { b.putAt(8, 1); }), ByteBufferException::IndexOutOfBounds);
    EXPECT_EQ(reasonOf([&] { b.putAt(-1, 1); }), ByteBufferException::IndexOutOfBounds);
    b.putAt(7, 0x99);
    EXPECT_EQ(b.getShortAt(0), 0xAABBu);
    EXPECT_EQ(b.getAt(7), 0x99);
    b.setLimit(6);
    EXPECT_EQ(reasonOf([&] { b.getAt(6); }), ByteBufferException::IndexOutOfBounds);
    EXPECT_EQ(reasonOf([&] { b.getIntAt(-1); }), ByteBufferException::IndexOutOfBounds);
    EXPECT_EQ(reasonOf([&] { b.getIntAt(4); }), ByteBufferException::Underflow);
    EXPECT_EQ(b.position(), 3);
}

TEST(ByteBuffer, BulkTransfersCheckTheirArguments) {
    ByteBuffer target(8);
    ByteBuffer source(16);
    EXPECT_EQ(reasonOf([&] { target.put(target); }), ByteBufferException::IllegalArgument);
    EXPECT_EQ(reasonOf([&] { target.put(source); }), ByteBufferException::Overflow);
    EXPECT_EQ(source.position(), 0);
    EXPECT_EQ(target.position(), 0);
    source.putInt(0x11223344);
    source.flip();
    target.put(source);
    EXPECT_EQ(source.remaining(), 0);
    EXPECT_EQ(target.position(), 4);

    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(reasonOf([&] { target.put(bytes, -1, 2); }), ByteBufferException::IndexOutOfBounds);
    EXPECT_EQ(reasonOf([&] { target.put(bytes, 0, -2); }), ByteBufferException::IndexOutOfBounds);
    EXPECT_EQ(reasonOf([&] { target.put(bytes, 0, 5); }), ByteBufferException::Overflow);
    target.put(bytes, 1, 3);
    target.flip();
    uint8_t out[8] = {};
    EXPECT_EQ(reasonOf([&] { target.get(out, 8); }), ByteBufferException::Underflow);
    target.get(out, 1, 7);
    EXPECT_EQ(out[5], 2);
    EXPECT_EQ(out[7], 4);
}

TEST(ByteBuffer, WrappedMemoryIsSharedAndStartsAtItsOffset) {
    uint8_t memory[10] = {};
    {
        ByteBuffer b(memory, 2, 10);
        EXPECT_EQ(b.capacity(), 8);
        b.putBool(true);
        b.putBool(false);
        b.flip();
        EXPECT_TRUE(b.getBool());
        EXPECT_FALSE(b.getBool());
        b.wrap(memory, 10, 9);
        EXPECT_EQ(b.capacity(), 1);
        EXPECT_EQ(reasonOf([&] { b.wrap(memory, 10, 10); }), ByteBufferException::IndexOutOfBounds);
    }
    EXPECT_EQ(memory[2], 0xFF);
    EXPECT_EQ(memory[3], 0x00);
    EXPECT_EQ(reasonOf([&] { ByteBuffer b(memory, -1, 10); }), ByteBufferException::IndexOutOfBounds);
}
