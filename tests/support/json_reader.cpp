// Recursive descent over the JSON grammar; \u escapes of the BMP become UTF-8.
#include "tests/support/json_reader.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const std::string& s;
    std::size_t at = 0;

    void skip()
    {
        while (at < s.size() && std::strchr(" \t\r\n", s[at]))
            ++at;
    }
    bool take(char c)
    {
        skip();
        return at < s.size() && s[at] == c && ++at;
    }
    bool word(const char* w)
    {
        const std::size_t n = std::strlen(w);
        return s.compare(at, n, w) == 0 && (at += n);
    }
    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (at < s.size() && s[at] != '"') {
            const char c = s[at++];
            if (c != '\\') {
                *out += c;
            } else if (at < s.size() && s[at] == 'u' && at + 5 <= s.size()) {
                const unsigned u = unsigned(std::strtoul(s.substr(at + 1, 4).c_str(), nullptr, 16));
                at += 5;
                if (u < 0x80)
                    *out += char(u);
                else if (u < 0x800)
                    *out += {char(0xC0 | u >> 6), char(0x80 | (u & 0x3F))};
                else
                    *out += {char(0xE0 | u >> 12), char(0x80 | (u >> 6 & 0x3F)), char(0x80 | (u & 0x3F))};
            } else {
                const char* from = "\"\\/bfnrt";
                const char* found = at < s.size() ? std::strchr(from, s[at++]) : nullptr;
                if (!found || !*found)
                    return false;
                *out += "\"\\/\b\f\n\r\t"[found - from];
            }
        }
        return take('"');
    }
    template <class Item>
    bool list(char close, Item item)
    {
        if (take(close))
            return true;
        do {
            if (!item())
                return false;
        } while (take(','));
        return take(close);
    }
    bool value(Json* v)
    {
        if (take('{')) {
            v->kind = Json::Object;
            return list('}', [&] {
                v->members.emplace_back();
                return string(&v->members.back().first) && take(':') &&
                       value(&v->members.back().second);
            });
        }
        if (take('[')) {
            v->kind = Json::Array;
            return list(']', [&] {
                v->items.emplace_back();
                return value(&v->items.back());
            });
        }
        skip();
        if (at < s.size() && s[at] == '"') {
            v->kind = Json::String;
            return string(&v->text);
        }
        if (word("true") || word("false")) {
            v->kind = Json::Bool;
            v->boolean = s[at - 1] == 'e' && s[at - 2] == 'u';  // "true", not "false"
            return true;
        }
        if (word("null"))
            return true;
        char* end = nullptr;
        v->number = std::strtod(s.c_str() + at, &end);
        v->kind = Json::Number;
        const std::size_t read = std::size_t(end - (s.c_str() + at));
        return read > 0 && (at += read);
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
