#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include "base/AssertionFailException.h"
#include "base/FormatableBuffer.h"
#include "base/SocketException.h"
#include "base/StandardException.h"
#include "base/SystemException.h"
#include "base/UnknownException.h"

TEST(Exception, AssertionFailurePrintsConditionFunctionFileAndLine) {
    AssertionFailException e("x", 7, "void f(void)", "a == b");
    EXPECT_EQ(e.describe(), "AssertionFailException: a == b\tat void f(void)(x:7)");
    EXPECT_EQ(e.errorCode(), 0);
}

TEST(Exception, AssertionsThrowOnlyWhileEnabled) {
    int a = 1, b = 2;
    EXPECT_NO_THROW(QF_ASSERT(a == b));
    {
        AssertionsEnabledScope enabled;
        EXPECT_THROW(QF_ASSERT(a == b), AssertionFailException);
        EXPECT_NO_THROW(QF_ASSERT(a != b));
    }
    EXPECT_FALSE(assertionsEnabled.load());
}

TEST(Exception, SocketMessageIsCutTo255CharactersAndKeptOnOneLine) {
    std::string longText(300, 'm');
    SocketException e(QF_HERE, 0, longText.c_str());
    EXPECT_EQ(std::string(e.message()), std::string(255, 'm'));

    SocketException fromCode(QF_HERE, ECONNREFUSED);
    EXPECT_EQ(std::string(fromCode.message()), systemErrorText(ECONNREFUSED));
    EXPECT_EQ(std::string(fromCode.message()).find('\n'), std::string::npos);
}

TEST(Exception, CopiesKeepTheirOwnMessage) {
    SystemException original(QF_HERE, ENOENT);
    SystemException copy = original;
    EXPECT_STREQ(copy.message(), original.message());
    EXPECT_NE(copy.message(), original.message());
    EXPECT_EQ(copy.errorCode(), ENOENT);
    EXPECT_STREQ(copy.name(), "SystemException");
}

TEST(Exception, WrappedStandardAndUnknownExceptionsPrintTheirShortForms) {
    StandardException wrapped(std::runtime_error("disk gone"));
    EXPECT_EQ(wrapped.describe(), "UnknownException: disk gone");
    UnknownException unknown;
    EXPECT_EQ(unknown.describe(), "UnknownException");
    EXPECT_STREQ(unknown.message(), "unknown_message");
}

TEST(FormatableBuffer, TruncatedTextKeepsTheFirstCharactersAndReportsFalse) {
    FormatableBuffer<17> text;
    EXPECT_FALSE(text.format("%s", "abcdefghijklmnopqrst"));
    EXPECT_STREQ(text.c_str(), "abcdefghijklmnop");
    EXPECT_FALSE(text.append("%s", "x"));
    EXPECT_STREQ(text.c_str(), "abcdefghijklmnop");
    EXPECT_TRUE(text.format("%d", 42));
    EXPECT_STREQ(text.c_str(), "42");
    EXPECT_TRUE(text.append("/%d", 7));
    EXPECT_STREQ(text.c_str(), "42/7");
}
