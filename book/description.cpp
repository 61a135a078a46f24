#include "book/description.h"

#include <cstring>

#include "book/big_endian.h"

bool find_exth_value(const std::vector<std::uint8_t>& record0, std::uint32_t type,
                     ByteSpan& value)
{
    const std::uint64_t size = record0.size();
    const std::uint8_t* data = record0.data();
    if (size < 24)
        return false;
    const std::uint64_t exth = 16 + std::uint64_t(get4(data + 20));
    if (exth + 12 > size || std::memcmp(data + exth, "EXTH", 4) != 0)
        return false;
    const std::uint64_t length = get4(data + exth + 4);
    if (length < 12 || length > size - exth)
        return false;
    const std::uint64_t end = exth + length;
    bool found = false;
    std::uint32_t count = get4(data + exth + 8);
    for (std::uint64_t p = exth + 12; count != 0 && p + 8 <= end; --count) {
        const std::uint64_t record_length = get4(data + p + 4);
        if (record_length < 8 || record_length > end - p)
            break;
        if (get4(data + p) == type) {
            value = {std::uint32_t(p + 8), std::uint32_t(record_length - 8)};
            found = true;
        }
        p += record_length;
    }
    return found;
}

namespace {

bool is_space(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f' || c == 0xA0;
}

wchar_t lower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

// The tag's name, lower case, without a leading '/'.
std::wstring tag_name(const std::wstring& tag)
{
    std::size_t at = 0;
    if (at < tag.size() && tag[at] == L'/')
        ++at;
    std::wstring name;
    for (; at < tag.size() && !is_space(tag[at]) && tag[at] != L'/' && tag[at] != L'>'; ++at)
        name += lower(tag[at]);
    return name;
}

bool breaks_line(const std::wstring& name)
{
    static const wchar_t* const NAMES[] = {L"p", L"br", L"div", L"li", L"tr", L"blockquote",
                                           L"h1", L"h2", L"h3", L"h4", L"h5", L"h6"};
    for (const wchar_t* candidate : NAMES)
        if (name == candidate)
            return true;
    return false;
}

void append_code_point(std::wstring& out, std::uint32_t code)
{
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        code = 0xFFFD;
    if (code > 0xFFFF && sizeof(wchar_t) == 2) {
        code -= 0x10000;
        out += wchar_t(0xD800 + (code >> 10));
        out += wchar_t(0xDC00 + (code & 0x3FF));
    } else {
        out += wchar_t(code);
    }
}

// Where needle (lower case) starts in text from at on, in any case; npos
// when nowhere.
std::size_t find_lower(const std::wstring& text, const std::wstring& needle, std::size_t at)
{
    for (; at + needle.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < needle.size() && lower(text[at + i]) == needle[i])
            ++i;
        if (i == needle.size())
            return at;
    }
    return std::wstring::npos;
}

// The reference text[at..] starting with '&'; returns the characters it
// took, 0 when it is none (the '&' then stands for itself).
std::size_t reference(const std::wstring& text, std::size_t at, std::wstring& out)
{
    const std::size_t semicolon = text.find(L';', at);
    if (semicolon == std::wstring::npos || semicolon - at > 10 || semicolon == at + 1)
        return 0;
    const std::wstring name = text.substr(at + 1, semicolon - at - 1);
    static const struct {
        const wchar_t* name;
        wchar_t character;
    } NAMED[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'},
                 {L"apos", L'\''}, {L"nbsp", L' '}};
    for (const auto& entry : NAMED) {
        if (name == entry.name) {
            out += entry.character;
            return semicolon - at + 1;
        }
    }
    if (name[0] != L'#' || name.size() < 2)
        return 0;
    const bool hex = name[1] == L'x' || name[1] == L'X';
    const std::size_t first = hex ? 2 : 1;
    if (first >= name.size())
        return 0;
    std::uint32_t code = 0;
    for (std::size_t i = first; i < name.size(); ++i) {
        const wchar_t c = lower(name[i]);
        std::uint32_t digit;
        if (c >= L'0' && c <= L'9')
            digit = std::uint32_t(c - L'0');
        else if (hex && c >= L'a' && c <= L'f')
            digit = std::uint32_t(c - L'a' + 10);
        else
            return 0;
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF)
            code = 0x110000;  // stays out of range, cannot wrap
    }
    append_code_point(out, code);
    return semicolon - at + 1;
}

// A space between words: never at a line's start, never twice.
void add_space(std::wstring& out)
{
    if (!out.empty() && out.back() != L' ' && out.back() != L'\n')
        out += L' ';
}

// A line break: never first, never twice, never after a space.
void add_break(std::wstring& out)
{
    if (!out.empty() && out.back() == L' ')
        out.pop_back();
    if (!out.empty() && out.back() != L'\n')
        out += L'\n';
}

}  // namespace

std::wstring plain_text_of_markup(const std::wstring& text)
{
    std::wstring out;
    std::size_t at = 0;
    while (at < text.size()) {
        const wchar_t c = text[at];
        if (c == L'<') {
            if (text.compare(at, 4, L"<!--") == 0) {
                const std::size_t end = text.find(L"-->", at + 4);
                at = end == std::wstring::npos ? text.size() : end + 3;
                continue;
            }
            const std::size_t close = text.find(L'>', at + 1);
            if (close == std::wstring::npos)
                break;  // an unfinished tag ends the text
            const std::wstring tag = text.substr(at + 1, close - at - 1);
            const std::wstring name = tag_name(tag);
            at = close + 1;
            if ((name == L"script" || name == L"style") && tag[0] != L'/') {
                const std::size_t end = find_lower(text, L"</" + name, at);
                const std::size_t after = text.find(L'>', end);
                at = after == std::wstring::npos ? text.size() : after + 1;
                continue;
            }
            // An inline tag (b, i, span, a) joins the text around it.
            if (breaks_line(name))
                add_break(out);
            continue;
        }
        if (is_space(c)) {
            add_space(out);
            ++at;
            continue;
        }
        if (c == L'&') {
            if (const std::size_t taken = reference(text, at, out)) {
                at += taken;
                continue;
            }
        }
        out += c;
        ++at;
    }
    while (!out.empty() && (out.back() == L' ' || out.back() == L'\n'))
        out.pop_back();
    return out;
}
