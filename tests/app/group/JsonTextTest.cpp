#include <gtest/gtest.h>

#include <string>

#include "app/group/JsonText.h"

namespace {

using Value = JsonText::Value;

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int value : values) {
        text += static_cast<char>(value);
    }
    return text;
}

}  // namespace

TEST(JsonText, WritesOneMemberPerLineIndentedByTabsAndEscapesEveryUnprintableByte) {
    Value root = Value::object();
    root["list"] =
        Value::array({std::string("\b\t\n\f\r\"/\\ ~") + bytes({0x01, 0x7F, 0xC3, 0xFF}), Value::array()});
    root["nested"] = Value::object({{"n", 5}, {"t", true}, {"z", nullptr}});
    root["empty"] = Value::object();
    EXPECT_EQ(JsonText::write(root),
              "{\n"
              "\t\"list\" : [\n"
              "\t\t\"\\b\\t\\n\\f\\r\\\"\\/\\\\ ~\\u0001\\u007F\\u00C3\\u00FF\",\n"
              "\t\t[]\n"
              "\t],\n"
              "\t\"nested\" : {\n"
              "\t\t\"n\" : 5,\n"
              "\t\t\"t\" : true,\n"
              "\t\t\"z\" : null\n"
              "\t},\n"
              "\t\"empty\" : {}\n"
              "}");
}

TEST(JsonText, ReadGivesBackEveryByteTheWriterTook) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    Value root = Value::object();
    root[all] = Value::array({all, "C:\\Arch\\Cam 1.strg", "/home/é/Cam 2.strg"});
    std::string text = JsonText::write(root);
    for (char c : text) {
        ASSERT_TRUE(c == '\n' || c == '\t' || (c >= 0x20 && c <= 0x7E)) << int(c);
    }
    Value read;
    ASSERT_TRUE(JsonText::read(text, read));
    EXPECT_EQ(read, root);
}

TEST(JsonText, ReadAcceptsCommentsWhitespaceAndRawBytesInStrings) {
    std::string text =
        "# written by hand\r\n"
        "  {  /* first */ \"a\"\t:\r\n \"x // not # a /* comment */\" , // line\n"
        "\"b\" :# to the end\n[ \"1\" /* inner */ , \"\\u4E2D\", \"" +
        bytes({0xC3, 0xA9, 0x09}) +
        "\" ] }\n"
        "// trailing\n" +
        bytes({0, 0, 0xFF}) + "padding after the end is cut off";
    Value read;
    ASSERT_TRUE(JsonText::read(text, read));
    EXPECT_EQ(read["a"].get<std::string>(), "x // not # a /* comment */");
    // Raw bytes typed into a string stay as they were; an escape above 0xFF becomes UTF-8.
    EXPECT_EQ(read["b"], Value::array({"1", bytes({0xE4, 0xB8, 0xAD}), bytes({0xC3, 0xA9, 0x09})}));
    EXPECT_TRUE(JsonText::read("[1, 2] /* an open comment runs to the end", read));
    EXPECT_EQ(read, Value::array({1, 2}));
}

TEST(JsonText, ReadRefusesEverythingButOneObjectOrArray) {
    Value read = Value::array({"unchanged"});
    for (const std::string& text :
         {std::string(""), std::string("\"abc\""), std::string("5"), std::string("{\"a\" : 1"),
          std::string("{\"a\" : 1}x"), std::string("{\"a\" : 1} {}"), std::string("{\"a\" : 1]"),
          std::string("{\"a\" : \"\\q\"}"), std::string("{/* open }"),
          "{\"a\" : " + bytes({0x01}) + "1}",         // a stray byte ends the text early
          bytes({0xEF, 0xBB, 0xBF}) + "{\"a\" : 1}",  // so does a byte order mark
          "[\"\\" + bytes({0xC3}) + "\"]"}) {
        EXPECT_FALSE(JsonText::read(text, read)) << text;
    }
    EXPECT_EQ(read, Value::array({"unchanged"}));
}
