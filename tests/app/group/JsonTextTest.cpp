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

TEST(JsonText, WritesOneMemberPerLineIndentedByTabsWithoutTrailingNewline) {
    Value root = Value::object();
    root["a"] = "x";
    root["list"] = Value::array({"p", Value::array({"q"})});
    root["none"] = Value::array();
    root["nested"] = Value::object();
    root["nested"]["n"] = 5;
    root["nested"]["t"] = true;
    root["nested"]["z"] = nullptr;
    root["empty"] = Value::object();

    EXPECT_EQ(JsonText::write(root),
              "{\n"
              "\t\"a\" : \"x\",\n"
              "\t\"list\" : [\n"
              "\t\t\"p\",\n"
              "\t\t[\n"
              "\t\t\t\"q\"\n"
              "\t\t]\n"
              "\t],\n"
              "\t\"none\" : [],\n"
              "\t\"nested\" : {\n"
              "\t\t\"n\" : 5,\n"
              "\t\t\"t\" : true,\n"
              "\t\t\"z\" : null\n"
              "\t},\n"
              "\t\"empty\" : {}\n"
              "}");
    EXPECT_EQ(JsonText::write(Value::array()), "[]");
}

TEST(JsonText, EscapesNamedCharactersAndEveryOtherByteOutsidePrintableAscii) {
    Value root = Value::array({std::string("\b\t\n\f\r\"/\\ ~") + bytes({0x01, 0x1F, 0x7F, 0xC3, 0xA9, 0xFF})});
    EXPECT_EQ(JsonText::write(root), "[\n\t\"\\b\\t\\n\\f\\r\\\"\\/\\\\ ~\\u0001\\u001F\\u007F\\u00C3\\u00A9\\u00FF\"\n]");
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
        unsigned char byte = static_cast<unsigned char>(c);
        ASSERT_TRUE(byte == '\n' || byte == '\t' || (byte >= 0x20 && byte <= 0x7E)) << int(byte);
    }
    Value read;
    ASSERT_TRUE(JsonText::read(text, read));
    ASSERT_TRUE(read.contains(all));
    const Value& list = read[all];
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].get<std::string>(), all);
    EXPECT_EQ(list[1].get<std::string>(), "C:\\Arch\\Cam 1.strg");
    EXPECT_EQ(list[2].get<std::string>(), "/home/é/Cam 2.strg");
}

TEST(JsonText, ReadAcceptsCommentsAndWhitespaceBetweenTokensButNotInsideStrings) {
    std::string text =
        "# written by hand\r\n"
        "  {  /* first */ \"a\"\t:\r\n \"x // not # a /* comment */\" , // line\n"
        "\"b\" :# to the end\n[ \"1\" /* inner */ , \"2\" ] }\n"
        "// trailing\n";
    Value read;
    ASSERT_TRUE(JsonText::read(text, read));
    EXPECT_EQ(read["a"].get<std::string>(), "x // not # a /* comment */");
    EXPECT_EQ(read["b"], Value::array({"1", "2"}));
}

TEST(JsonText, ReadKeepsRawBytesOfStringsAndStopsAtTheFirstUnprintableByteOutsideThem) {
    Value read;
    // Raw UTF-8 typed into a string stays as it was; an escape above 0xFF becomes UTF-8.
    ASSERT_TRUE(JsonText::read("[\"" + bytes({0xC3, 0xA9, 0x09}) + "\", \"\\u4E2D\"]", read));
    EXPECT_EQ(read[0].get<std::string>(), bytes({0xC3, 0xA9, 0x09}));
    EXPECT_EQ(read[1].get<std::string>(), bytes({0xE4, 0xB8, 0xAD}));

    // Padding after the closing bracket is cut off; a stray byte before it ends the text.
    EXPECT_TRUE(JsonText::read(std::string("{\"a\" : \"b\"}") + bytes({0, 0, 0xFF}) + "junk", read));
    EXPECT_EQ(read["a"].get<std::string>(), "b");
    EXPECT_FALSE(JsonText::read(std::string("{\"a\" : ") + bytes({0x01}) + "\"b\"}", read));
    EXPECT_FALSE(JsonText::read(bytes({0xEF, 0xBB, 0xBF}) + "{\"a\" : \"b\"}", read));
}

TEST(JsonText, ReadRefusesEverythingButOneObjectOrArray) {
    Value read = Value::array({"unchanged"});
    for (const char* text : {"", "\"abc\"", "5", "true", "{\"a\" : 1", "{\"a\" : 1}x", "{\"a\" : 1} {}",
                             "{\"a\" : 1]", "[1, 2", "{\"a\" : \"\\q\"}", "{\"a\" 1}", "{/* open }"}) {
        EXPECT_FALSE(JsonText::read(text, read)) << text;
    }
    EXPECT_FALSE(JsonText::read("[\"\\" + bytes({0xC3}) + "\"]", read));
    EXPECT_EQ(read, Value::array({"unchanged"}));
    EXPECT_TRUE(JsonText::read("[1, 2] /* an open comment runs to the end", read));
    EXPECT_EQ(read, Value::array({1, 2}));
}
