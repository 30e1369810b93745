#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "base/Buffer.h"
#include "base/FourCharacterCode.h"
#include "base/FormatableBuffer.h"
#include "base/ParseException.h"
#include "base/TextOf.h"
#include "base/UniqueID.h"

namespace {

class Tag : public FourCharacterCode<Tag> {
public:
    using FourCharacterCode<Tag>::FourCharacterCode;
    void toString(IFormatable& out) const override { out.format("%.4s", reinterpret_cast<const char*>(bytes())); }
};

}  // namespace

TEST(UniqueID, TextRoundTripKeepsTheWindowsGuidByteLayout) {
    UniqueID id("00112233-4455-6677-8899-AABBCCDDEEFF");
    const uint8_t expected[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                  0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(0, memcmp(id.bytes(), expected, 16));
    EXPECT_EQ(textOf(id), "00112233-4455-6677-8899-aabbccddeeff");
    EXPECT_EQ(UniqueID::fromBytes(expected), id);
    EXPECT_EQ(UniqueID(textOf(id).c_str()), id);
}

TEST(UniqueID, FreshIdentifiersAreRandomVersion4) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        UniqueID id;
        std::string text = textOf(id);
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
        EXPECT_EQ(UniqueID(text.c_str()), id);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

TEST(UniqueID, MalformedTextIsRejected) {
    const char* bad[] = {
        "",
        "00112233-4455-6677-8899-aabbccddeef",    // one digit short
        "00112233-4455-6677-8899-aabbccddeeff0",  // one digit too many
        "{00112233-4455-6677-8899-aabbccddeeff}",
        "00112233-4455-6677-8899_aabbccddeeff",
        "0011223g-4455-6677-8899-aabbccddeeff",
        "00112233-4455-6677-8899-aabbccddeegf",
        "00112233-4455-6677-88z9-aabbccddeeff",
        "-0112233-4455-6677-8899-aabbccddeeff",
        "0x112233-4455-6677-8899-aabbccddeeff",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        try {
            UniqueID id(text);
            ADD_FAILURE() << "accepted as " << textOf(id);
        } catch (const ParseException& e) {
            EXPECT_NE(std::string(e.message()).find(text), std::string::npos);
        }
    }
    EXPECT_THROW(UniqueID(nullptr), ParseException);
}

TEST(UniqueID, OrderComparesBytesInMemoryOrder) {
    // As numbers 00000001 < 01000000, but in memory the first is 01 00 00 00.
    UniqueID one("00000001-0000-0000-0000-000000000000");
    UniqueID big("01000000-0000-0000-0000-000000000000");
    EXPECT_GT(one, big);
    EXPECT_LT(big, one);
    EXPECT_TRUE(one.notEquals(big));
    EXPECT_TRUE(one.greaterOrEqual(UniqueID(textOf(one).c_str())));
}

TEST(FourCharacterCode, KeepsWritingOrderAndComparesFirstByteFirst) {
    Tag free("FREE");
    EXPECT_EQ(textOf(free), "FREE");
    EXPECT_LT(Tag("AZZZ"), Tag("BAAA"));
    EXPECT_GT(Tag('\xF0', 'A', 'A', 'A'), Tag("ZZZZ"));  // unsigned bytes
    EXPECT_EQ(Tag('F', 'R', 'E', 'E'), free);

    uint8_t bytes[8] = {};
    Buffer little(bytes, 8, ByteOrder::LittleEndian);
    free.writeTo(little);
    EXPECT_EQ(0, memcmp(bytes, "FREE", 4));
    Tag read("....");
    read.readFrom(little, 0);
    EXPECT_EQ(read, free);
    EXPECT_EQ(little.position(), 4);
}
