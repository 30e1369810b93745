#pragma once

#include <nlohmann/json.hpp>
#include <string>

// The JSON text of group files, written and read byte for byte the way stored group files
// have always looked, so files move freely between stations of any age.
//
// The writer puts every member or element on a line of its own, indented by one tab per
// nesting level, and escapes every byte outside printable ASCII, so a file stays plain
// ASCII whatever its strings hold: "\uXXXX" there always stands for one byte. The reader
// accepts comments ("/* */", "//" and "#" to the end of the line) and any whitespace
// between tokens, and gives string bytes back exactly as the writer took them; raw bytes
// a person typed into a string are kept as they are. Strings are byte strings, not
// necessarily UTF-8 (paths are whatever the file system holds). Pure functions.
class JsonText {
public:
    using Value = nlohmann::ordered_json;

    // The text of `value`, without a trailing newline.
    static std::string write(const Value& value);
    // Reads an object or an array. False when the text, once whitespace and comments are
    // dropped, does not begin with "{" or "[" and end with the matching bracket, or is not
    // valid JSON; `value` is unchanged then.
    static bool read(const std::string& bytes, Value& value);

private:
    static void writeValue(const Value& value, int level, std::string& out);
    static void writeString(const std::string& bytes, std::string& out);
    // Drops whitespace and comments outside strings and stops at the first byte outside
    // printable ASCII there; inside strings every such byte becomes a "\u00XX" escape.
    static std::string strip(const std::string& bytes);
    // Turns the code points the parser made of "\u00XX" escapes back into single bytes.
    static Value restoreBytes(const Value& value);
    static std::string restoreBytes(const std::string& utf8);
};
