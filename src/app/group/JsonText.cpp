#include "app/group/JsonText.h"

#include <cstdio>
#include <cstring>

namespace {

bool isPrintable(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

bool isBlank(unsigned char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

void appendByteEscape(unsigned char byte, std::string& out) {
    char escape[7];
    std::snprintf(escape, sizeof escape, "\\u00%02X", byte);
    out += escape;
}

void appendTabs(int count, std::string& out) {
    out.append(static_cast<size_t>(count), '\t');
}

}  // namespace

std::string JsonText::write(const Value& value) {
    std::string out;
    writeValue(value, 0, out);
    return out;
}

void JsonText::writeValue(const Value& value, int level, std::string& out) {
    if (value.is_object() || value.is_array()) {
        bool object = value.is_object();
        out += object ? '{' : '[';
        bool first = true;
        for (auto member = value.begin(); member != value.end(); ++member) {
            if (!first) {
                out += ',';
            }
            first = false;
            out += '\n';
            appendTabs(level + 1, out);
            if (object) {
                writeString(member.key(), out);
                out += " : ";
            }
            writeValue(member.value(), level + 1, out);
        }
        if (!first) {
            out += '\n';
            appendTabs(level, out);
        }
        out += object ? '}' : ']';
    } else if (value.is_string()) {
        writeString(value.get_ref<const std::string&>(), out);
    } else {
        out += value.dump();
    }
}

void JsonText::writeString(const std::string& bytes, std::string& out) {
    // The characters written as a backslash and a letter, and their letters.
    static constexpr char NAMED[] = "\b\t\n\f\r\"/\\";
    static constexpr char LETTERS[] = "btnfr\"/\\";
    out += '"';
    for (char c : bytes) {
        const char* named = c != '\0' ? std::strchr(NAMED, c) : nullptr;
        if (named != nullptr) {
            out += '\\';
            out += LETTERS[named - NAMED];
        } else if (isPrintable(static_cast<unsigned char>(c))) {
            out += c;
        } else {
            appendByteEscape(static_cast<unsigned char>(c), out);
        }
    }
    out += '"';
}

bool JsonText::read(const std::string& bytes, Value& value) {
    std::string text = strip(bytes);
    if (text.size() < 2) {
        return false;
    }
    char open = text.front();
    char close = text.back();
    if (!((open == '{' && close == '}') || (open == '[' && close == ']'))) {
        return false;
    }
    Value parsed = Value::parse(text, nullptr, false);
    if (parsed.is_discarded()) {
        return false;
    }
    value = restoreBytes(parsed);
    return true;
}

std::string JsonText::strip(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    size_t n = bytes.size();
    while (i < n) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '"') {
            out += '"';
            ++i;
            while (i < n && bytes[i] != '"') {
                unsigned char inner = static_cast<unsigned char>(bytes[i]);
                if (inner == '\\' && i + 1 < n) {
                    // The escaped byte goes through as it is: a quote stays inside the
                    // string, and a raw byte after a backslash stays an invalid escape.
                    out += bytes[i];
                    out += bytes[i + 1];
                    i += 2;
                } else if (isPrintable(inner)) {
                    out += bytes[i++];
                } else {
                    appendByteEscape(inner, out);
                    ++i;
                }
            }
            if (i < n) {
                out += '"';
                ++i;
            }
        } else if (isBlank(byte)) {
            ++i;
        } else if (byte == '/' && i + 1 < n && bytes[i + 1] == '*') {
            size_t end = bytes.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
        } else if ((byte == '/' && i + 1 < n && bytes[i + 1] == '/') || byte == '#') {
            size_t end = bytes.find('\n', i);
            i = end == std::string::npos ? n : end + 1;
        } else if (!isPrintable(byte)) {
            break;
        } else {
            out += bytes[i++];
        }
    }
    return out;
}

JsonText::Value JsonText::restoreBytes(const Value& value) {
    if (value.is_string()) {
        return restoreBytes(value.get_ref<const std::string&>());
    }
    if (value.is_array()) {
        Value result = Value::array();
        for (const auto& element : value) {
            result.push_back(restoreBytes(element));
        }
        return result;
    }
    if (value.is_object()) {
        Value result = Value::object();
        for (auto member = value.begin(); member != value.end(); ++member) {
            result[restoreBytes(member.key())] = restoreBytes(member.value());
        }
        return result;
    }
    return value;
}

std::string JsonText::restoreBytes(const std::string& utf8) {
    // The parser only ever sees ASCII (strip escapes everything else), so its output is
    // well-formed UTF-8: a lead byte 0xC2 or 0xC3 is a code point 0x80..0xFF, which stands
    // for that byte; longer sequences came from escapes above 0xFF and stay UTF-8.
    std::string bytes;
    bytes.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(utf8[i]);
        if ((byte == 0xC2 || byte == 0xC3) && i + 1 < utf8.size()) {
            unsigned char next = static_cast<unsigned char>(utf8[i + 1]);
            bytes += static_cast<char>(((byte & 0x1F) << 6) | (next & 0x3F));
            ++i;
        } else {
            bytes += utf8[i];
        }
    }
    return bytes;
}
