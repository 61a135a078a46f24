// Recursive descent over the JSON grammar; \u escapes of the BMP become UTF-8.
#include "tests/support/json_reader.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const std::string& s;
    std::size_t at = 0;

    bool take(char c)
    {
        while (at < s.size() && std::strchr(" \t\r\n", s[at]))
            ++at;
        return at < s.size() && s[at] == c && ++at;
    }
    bool string(std::string* out)
    {
        while (at < s.size() && s[at] != '"') {
            const char c = s[at++];
            const char* escapes = "\"\\/bfnrt";
            const char* escape = c == '\\' && at < s.size() ? std::strchr(escapes, s[at]) : nullptr;
            if (c != '\\') {
                *out += c;
            } else if (escape && *escape) {
                *out += "\"\\/\b\f\n\r\t"[escape - escapes], ++at;
            } else if (at + 5 <= s.size() && s[at] == 'u') {
                const unsigned u = unsigned(std::strtoul(s.substr(at + 1, 4).c_str(), nullptr, 16));
                at += 5;
                if (u < 0x80)
                    *out += char(u);
                else if (u < 0x800)
                    *out += {char(0xC0 | u >> 6), char(0x80 | (u & 0x3F))};
                else
                    *out += {char(0xE0 | u >> 12), char(0x80 | (u >> 6 & 0x3F)), char(0x80 | (u & 0x3F))};
            } else {
                return false;
            }
        }
        return take('"');
    }
    // Items up to close, each read by item, apart by commas.
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
        if (take('{'))
            return list('}', [&] {
                v->members.emplace_back();
                return take('"') && string(&v->members.back().first) && take(':') &&
                       value(&v->members.back().second);
            });
        if (take('['))
            return list(']', [&] {
                v->items.emplace_back();
                return value(&v->items.back());
            });
        if (take('"'))
            return string(&v->text);
        const std::size_t end = s.find_first_of(",]} \t\r\n", at);
        v->text = s.substr(at, end - at);  // true, false, null or a number
        v->boolean = v->text == "true";
        at = end == std::string::npos ? s.size() : end;
        return !v->text.empty();
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
    // take skips the white space after the value, then finds no NUL there.
    return reader.value(value) && !reader.take('\0') && reader.at == text.size();
}
