// Recursive descent over the JSON grammar; \u escapes become UTF-8.
#include "tests/support/json_reader.h"

#include <cstdlib>

namespace {

struct Reader {
    const std::string& text;
    std::size_t at = 0;

    void skip()
    {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' ||
                                    text[at] == '\t'))
            ++at;
    }
    bool take(char c)
    {
        skip();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool word(const char* w)
    {
        const std::string expected = w;
        if (text.compare(at, expected.size(), expected) != 0)
            return false;
        at += expected.size();
        return true;
    }
    static void append_utf8(unsigned code, std::string* out)
    {
        if (code < 0x80) {
            *out += char(code);
        } else if (code < 0x800) {
            *out += char(0xC0 | code >> 6);
            *out += char(0x80 | (code & 0x3F));
        } else {
            *out += char(0xE0 | code >> 12);
            *out += char(0x80 | (code >> 6 & 0x3F));
            *out += char(0x80 | (code & 0x3F));
        }
    }
    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at >= text.size())
                return false;
            c = text[at++];
            if (c == 'u') {
                if (at + 4 > text.size())
                    return false;
                append_utf8(unsigned(std::strtoul(text.substr(at, 4).c_str(), nullptr, 16)), out);
                at += 4;
                continue;
            }
            const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
            const std::size_t which = from.find(c);
            if (which == std::string::npos)
                return false;
            *out += to[which];
        }
        return take('"');
    }
    bool value(Json* v)
    {
        skip();
        if (at >= text.size())
            return false;
        const char c = text[at];
        if (c == '"') {
            v->kind = Json::String;
            return string(&v->text);
        }
        if (c == '{') {
            v->kind = Json::Object;
            ++at;
            if (take('}'))
                return true;
            do {
                std::pair<std::string, Json> member;
                if (!string(&member.first) || !take(':') || !value(&member.second))
                    return false;
                v->members.push_back(std::move(member));
            } while (take(','));
            return take('}');
        }
        if (c == '[') {
            v->kind = Json::Array;
            ++at;
            if (take(']'))
                return true;
            do {
                v->items.emplace_back();
                if (!value(&v->items.back()))
                    return false;
            } while (take(','));
            return take(']');
        }
        if (word("true") || word("false")) {
            v->kind = Json::Bool;
            v->boolean = c == 't';
            return true;
        }
        if (word("null"))
            return true;
        char* end = nullptr;
        v->number = std::strtod(text.c_str() + at, &end);
        if (end == text.c_str() + at)
            return false;
        v->kind = Json::Number;
        at = std::size_t(end - text.c_str());
        return true;
    }
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    static const Json none;
    for (const auto& member : members) {
        if (member.first == key)
            return member.second;
    }
    return none;
}

bool parse_json(const std::string& text, Json* value)
{
    Reader reader{text};
    if (!reader.value(value))
        return false;
    reader.skip();
    return reader.at == text.size();
}
