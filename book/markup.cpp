// Markup to plain text; see markup.h. The parser is a small state machine
// over decoded characters: all markup characters are ASCII, so the same
// machine serves both code pages.
#include "markup.h"

#include <cstring>

namespace {

constexpr std::size_t NAME_MAX = 16;       // longer tag names match nothing we act on
constexpr std::size_t REFERENCE_MAX = 32;  // longer "references" are text

// Windows-1252 bytes 0x80-0x9F; the five unassigned ones map to the C1
// control of the same value, as Windows converts them.
const char16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Named references of U+00A0 to U+00FF, in code point order.
const char LATIN1_NAMES[] =
    "nbsp iexcl cent pound curren yen brvbar sect uml copy ordf laquo not shy reg macr "
    "deg plusmn sup2 sup3 acute micro para middot cedil sup1 ordm raquo frac14 frac12 frac34 iquest "
    "Agrave Aacute Acirc Atilde Auml Aring AElig Ccedil Egrave Eacute Ecirc Euml Igrave Iacute Icirc Iuml "
    "ETH Ntilde Ograve Oacute Ocirc Otilde Ouml times Oslash Ugrave Uacute Ucirc Uuml Yacute THORN szlig "
    "agrave aacute acirc atilde auml aring aelig ccedil egrave eacute ecirc euml igrave iacute icirc iuml "
    "eth ntilde ograve oacute ocirc otilde ouml divide oslash ugrave uacute ucirc uuml yacute thorn yuml ";

struct NamedReference {
    const char* name;
    char16_t value;
};

const NamedReference OTHER_NAMES[] = {
    {"amp", 0x26},      {"lt", 0x3C},       {"gt", 0x3E},       {"quot", 0x22},    {"apos", 0x27},
    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161}, {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ensp", 0x2002},  {"emsp", 0x2003},
    {"thinsp", 0x2009}, {"zwnj", 0x200C},   {"zwj", 0x200D},    {"lrm", 0x200E},   {"rlm", 0x200F},
    {"ndash", 0x2013},  {"mdash", 0x2014},  {"lsquo", 0x2018},  {"rsquo", 0x2019}, {"sbquo", 0x201A},
    {"ldquo", 0x201C},  {"rdquo", 0x201D},  {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021},
    {"bull", 0x2022},   {"hellip", 0x2026}, {"permil", 0x2030}, {"prime", 0x2032}, {"Prime", 0x2033},
    {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},   {"trade", 0x2122}, {"larr", 0x2190},
    {"rarr", 0x2192},   {"minus", 0x2212},
};

// The character a reference's text (without '&' and ';') stands for; 0 if
// none. Numeric references that name no character give U+FFFD.
char32_t resolve(const std::string& text)
{
    if (text.size() >= 2 && text[0] == '#') {
        const bool hex = text[1] == 'x' || text[1] == 'X';
        std::size_t i = hex ? 2 : 1;
        if (i == text.size())
            return 0;
        char32_t value = 0;
        for (; i < text.size(); ++i) {
            const char c = text[i];
            int digit = c >= '0' && c <= '9' ? c - '0' : -1;
            if (hex && digit < 0)
                digit = c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return 0;
            value = value * (hex ? 16 : 10) + char32_t(digit);
            if (value > 0x10FFFF)
                value = 0x110000;  // stays out of range, cannot wrap
        }
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return 0xFFFD;
        return value;
    }
    char32_t latin1 = 0xA0;
    for (const char* p = LATIN1_NAMES; *p; ++latin1) {
        const char* space = std::strchr(p, ' ');
        if (std::size_t(space - p) == text.size() && text.compare(0, text.size(), p, text.size()) == 0)
            return latin1;
        p = space + 1;
    }
    for (const NamedReference& r : OTHER_NAMES)
        if (text == r.name)
            return r.value;
    return 0;
}

bool is_space(char32_t c)
{
    return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D || c == 0x0C || c == 0xA0;
}

bool is_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }

bool is_block(const std::string& name)
{
    static const char* const BLOCKS[] = {
        "p",  "div", "br", "h1", "h2", "h3", "h4", "h5", "h6", "li", "tr", "blockquote",
        "mbp:pagebreak", "ul", "ol", "dl", "dt", "dd", "table", "td", "th", "hr", "body"};
    for (const char* block : BLOCKS)
        if (name == block)
            return true;
    return false;
}

bool is_skipped(const std::string& name)
{
    return name == "head" || name == "style" || name == "script";
}

}  // namespace

void MarkupText::feed(const std::uint8_t* bytes, std::size_t n, std::u16string& out)
{
    if (!utf8_) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = bytes[i];
            parse(b >= 0x80 && b < 0xA0 ? char32_t(CP1252_HIGH[b - 0x80]) : char32_t(b), out);
        }
        return;
    }
    // UTF-8 as the WHATWG decoder reads it: each maximal invalid subpart
    // becomes one U+FFFD.
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = bytes[i];
        if (needed_ == 0) {
            if (b < 0x80) {
                parse(b, out);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed_ = 1, code_ = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                lower_ = b == 0xE0 ? 0xA0 : 0x80, upper_ = b == 0xED ? 0x9F : 0xBF;
                needed_ = 2, code_ = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                lower_ = b == 0xF0 ? 0x90 : 0x80, upper_ = b == 0xF4 ? 0x8F : 0xBF;
                needed_ = 3, code_ = b & 0x07;
            } else {
                parse(0xFFFD, out);
            }
            continue;
        }
        if (b < lower_ || b > upper_) {
            needed_ = 0, lower_ = 0x80, upper_ = 0xBF;
            parse(0xFFFD, out);
            --i;  // the byte starts afresh
            continue;
        }
        lower_ = 0x80, upper_ = 0xBF;
        code_ = code_ << 6 | (b & 0x3F);
        if (--needed_ == 0)
            parse(code_, out);
    }
}

void MarkupText::finish(std::u16string& out)
{
    if (needed_ != 0) {
        needed_ = 0, lower_ = 0x80, upper_ = 0xBF;
        parse(0xFFFD, out);
    }
    if (state_ == State::reference)
        flush_reference(out);
    else if (state_ == State::tag_open && skipping_.empty())
        character('<', out);
    state_ = State::text;
}

void MarkupText::parse(char32_t c, std::u16string& out)
{
    switch (state_) {
    case State::text:
        if (c == '<') {
            state_ = State::tag_open;
        } else if (c == '&') {
            state_ = State::reference;
            reference_.clear();
        } else if (skipping_.empty()) {
            character(c, out);
        }
        return;
    case State::tag_open:
        name_.clear();
        closing_ = self_closing_ = after_equals_ = false;
        quote_ = 0;
        if (skipping_ == "style" || skipping_ == "script") {
            // Their content is not markup: only an end tag ends it.
            state_ = c == '/' ? State::tag_name : State::text;
            closing_ = true;
            if (c != '/')
                parse(c, out);
        } else if (c == '/') {
            closing_ = true;
            state_ = State::tag_name;
        } else if (is_letter(c)) {
            name_.push_back(char(c | 0x20));
            state_ = State::tag_name;
        } else if (c == '!') {
            dashes_ = 0;
            state_ = State::bang;
        } else if (c == '?') {
            state_ = State::tag_rest;
        } else {
            // Not a tag: the '<' is text.
            state_ = State::text;
            if (skipping_.empty())
                character('<', out);
            parse(c, out);
        }
        return;
    case State::tag_name:
        if (is_letter(c) || is_digit(c) || c == ':' || c == '-' || c == '_') {
            if (name_.size() <= NAME_MAX)
                name_.push_back(char(is_letter(c) ? c | 0x20 : c));
            return;
        }
        state_ = State::tag_rest;
        parse(c, out);
        return;
    case State::tag_rest:
        if (quote_ != 0) {
            if (c == quote_)
                quote_ = 0;
        } else if (c == '>') {
            end_tag();
        } else if (c == '=') {
            after_equals_ = true;
            self_closing_ = false;
        } else if (is_space(c)) {
            // Between an attribute's '=' and its value.
        } else {
            if (after_equals_ && (c == '"' || c == '\''))
                quote_ = c;
            after_equals_ = false;
            self_closing_ = c == '/';
        }
        return;
    case State::bang:
        // "<!--" opens a comment; any other "<!" is a declaration, read as a tag.
        if (c == '-' && ++dashes_ < 2)
            return;
        if (c == '-') {
            dashes_ = 0;
            state_ = State::comment;
            return;
        }
        state_ = State::tag_rest;
        parse(c, out);
        return;
    case State::comment:
        if (c == '>' && dashes_ >= 2)
            state_ = State::text;
        else
            dashes_ = c == '-' ? dashes_ + 1 : 0;
        return;
    case State::reference:
        if (c == ';') {
            const char32_t value = resolve(reference_);
            state_ = State::text;
            if (!skipping_.empty())
                return;
            if (value != 0) {
                character(value, out);
            } else {
                flush_reference(out);
                character(';', out);
            }
        } else if ((is_letter(c) || is_digit(c) || c == '#') && reference_.size() < REFERENCE_MAX) {
            reference_.push_back(char(c));
        } else {
            flush_reference(out);
            parse(c, out);
        }
        return;
    }
}

void MarkupText::flush_reference(std::u16string& out)
{
    state_ = State::text;
    if (!skipping_.empty())
        return;
    character('&', out);
    for (char c : reference_)
        character(char32_t(c), out);
}

void MarkupText::end_tag()
{
    state_ = State::text;
    if (!skipping_.empty()) {
        if (closing_ && name_ == skipping_)
            skipping_.clear();
        return;
    }
    if (!closing_ && !self_closing_ && is_skipped(name_))
        skipping_ = name_;
    else if (is_block(name_))
        paragraph();
}

void MarkupText::character(char32_t c, std::u16string& out)
{
    if (is_space(c)) {
        if (separator_ == Separator::none)
            separator_ = Separator::space;
        return;
    }
    if (c < 0x20 || c == 0x7F || c == 0xFEFF)
        return;  // controls and byte order marks are not text
    if (started_ && separator_ != Separator::none)
        out.push_back(separator_ == Separator::paragraph ? u'\n' : u' ');
    separator_ = Separator::none;
    started_ = true;
    if (c >= 0x10000) {
        c -= 0x10000;
        out.push_back(char16_t(0xD800 + (c >> 10)));
        out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
        out.push_back(char16_t(c));
    }
}
