// Markup to plain text; see markup.h. The parser is a small state machine
// over decoded characters: all markup characters are ASCII, so the same
// machine serves both code pages.
#include "markup.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

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

bool is_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

constexpr std::size_t LATIN1_COUNT = 96;
constexpr std::size_t NAME_LONGEST = 6;

// Eight bytes at a time: byte k of p at bits 8k to 8k + 7.
std::uint64_t load8(const std::uint8_t* p)
{
    std::uint64_t x;
    std::memcpy(&x, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    x = __builtin_bswap64(x);
#endif
    return x;
}

// Names of at most 16 bytes in an open-addressed hash table of their
// bytes, so that a name is found, or found missing, in one or two
// comparisons whatever it is. Values are never 0 (0: no such name).
template <typename Value, std::size_t SLOTS>
class NameHash {
public:
    void add(const char* name, Value value)
    {
        const Key key(name, std::strlen(name));
        std::size_t slot = key.slot();
        while (slots_[slot].value != 0)
            slot = (slot + 1) % SLOTS;
        slots_[slot] = {key, value};
    }
    // name has size bytes, or with padded 16 bytes that may be read (those
    // past size are not looked at).
    Value find(const char* name, std::size_t size, bool padded = false) const
    {
        if (size == 0 || size > 16)
            return 0;
        const Key key = padded ? Key::masked(name, size) : Key(name, size);
        for (std::size_t slot = key.slot(); slots_[slot].value != 0; slot = (slot + 1) % SLOTS)
            if (slots_[slot].key == key)
                return slots_[slot].value;
        return 0;
    }

private:
    static_assert((SLOTS & (SLOTS - 1)) == 0 && SLOTS >= 64, "a power of two");
    struct Key {
        std::uint64_t low = 0, high = 0;
        Key() = default;
        Key(const char* name, std::size_t size)
        {
            std::uint8_t bytes[16] = {};
            std::memcpy(bytes, name, size);
            *this = masked(reinterpret_cast<const char*>(bytes), size);
        }
        // From 16 bytes, those past size taken as zeros.
        static Key masked(const char* name, std::size_t size)
        {
            const std::uint8_t* const bytes = reinterpret_cast<const std::uint8_t*>(name);
            Key key;
            key.low = load8(bytes), key.high = load8(bytes + 8);
            if (size < 8)
                key.low &= (std::uint64_t(1) << 8 * size) - 1, key.high = 0;
            else if (size < 16)
                key.high &= (std::uint64_t(1) << 8 * (size - 8)) - 1;
            return key;
        }
        std::size_t slot() const { return std::size_t((low ^ high * 31) * 0x9E3779B97F4A7C15u >> 40) % SLOTS; }
        bool operator==(const Key& other) const { return low == other.low && high == other.high; }
    };
    struct Slot {
        Key key;
        Value value = 0;
    };
    Slot slots_[SLOTS];
};

// Every named reference, made once.
class NameTable : public NameHash<char16_t, 256> {
public:
    NameTable()
    {
        for (const NamedReference& r : OTHER_NAMES)
            add(r.name, r.value);
        const char* p = LATIN1_NAMES;
        for (std::size_t k = 0; k < LATIN1_COUNT; ++k) {
            std::size_t length = 0;
            while (p[length] != ' ')
                ++length;
            std::memcpy(latin1_[k], p, length);
            add(latin1_[k], char16_t(0xA0 + k));
            p += length + 1;
        }
    }

private:
    char latin1_[LATIN1_COUNT][NAME_LONGEST + 1] = {};
};

// The character a reference's text (without '&' and ';') stands for; 0 if
// none. Numeric references that name no character give U+FFFD.
char32_t resolve(const char* text, std::size_t size)
{
    if (size >= 2 && text[0] == '#') {
        const bool hex = text[1] == 'x' || text[1] == 'X';
        std::size_t i = hex ? 2 : 1;
        if (i == size)
            return 0;
        char32_t value = 0;
        for (; i < size; ++i) {
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
    // Names are two to six letters and digits, starting with a letter.
    if (size < 2 || size > NAME_LONGEST || !is_letter(text[0]))
        return 0;
    static const NameTable names;
    return names.find(text, size);
}

bool is_space(char32_t c)
{
    return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0D || c == 0x0C || c == 0xA0;
}

bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }

// What the tag names the text acts on do: a paragraph break, standing in
// a head (an HTML parser stays in the head at these start tags; MOBI's own
// guide, with its references, stands there too), ending a head (these end
// tags end it; any other end tag there is ignored), and the content skipped
// (Skip::head, style, script: the flag 4 << skip).
enum : std::uint8_t { BLOCK = 1, IN_HEAD = 2, ENDS_HEAD = 4, SKIPS_HEAD = 8, SKIPS_STYLE = 16, SKIPS_SCRIPT = 32 };
struct TagName {
    const char* name;
    std::uint8_t kind;
};
const TagName TAG_NAMES[] = {
    {"p", BLOCK}, {"div", BLOCK}, {"br", BLOCK | ENDS_HEAD}, {"h1", BLOCK}, {"h2", BLOCK}, {"h3", BLOCK},
    {"h4", BLOCK}, {"h5", BLOCK}, {"h6", BLOCK}, {"li", BLOCK}, {"tr", BLOCK}, {"blockquote", BLOCK},
    {"mbp:pagebreak", BLOCK}, {"ul", BLOCK}, {"ol", BLOCK}, {"dl", BLOCK}, {"dt", BLOCK}, {"dd", BLOCK},
    {"table", BLOCK}, {"td", BLOCK}, {"th", BLOCK}, {"hr", BLOCK}, {"body", BLOCK | ENDS_HEAD},
    {"head", IN_HEAD | ENDS_HEAD | SKIPS_HEAD}, {"html", IN_HEAD | ENDS_HEAD}, {"style", IN_HEAD | SKIPS_STYLE},
    {"script", IN_HEAD | SKIPS_SCRIPT}, {"base", IN_HEAD}, {"basefont", IN_HEAD}, {"bgsound", IN_HEAD},
    {"link", IN_HEAD}, {"meta", IN_HEAD}, {"title", IN_HEAD}, {"noscript", IN_HEAD}, {"noframes", IN_HEAD},
    {"template", IN_HEAD}, {"guide", IN_HEAD}, {"reference", IN_HEAD},
};

// The tag names the text acts on, made once.
class TagTable : public NameHash<std::uint8_t, 128> {
public:
    TagTable()
    {
        for (const TagName& t : TAG_NAMES)
            add(t.name, t.kind);
    }
};

// Classes of ASCII bytes in text: plain characters (copied as they are),
// white space, markup ('<', '&') and controls.
enum : std::uint8_t { PLAIN, SPACE, MARKUP, CONTROL };
struct AsciiClasses {
    std::uint8_t of[128];
    constexpr AsciiClasses() : of()
    {
        for (int c = 0; c < 128; ++c)
            of[c] = c == '<' || c == '&'                                          ? MARKUP
                    : c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ? SPACE
                    : c < 0x20 || c == 0x7F                                        ? CONTROL
                                                                                   : PLAIN;
    }
};
constexpr AsciiClasses ASCII;

constexpr std::uint64_t EACH(std::uint8_t b) { return 0x0101010101010101u * b; }

// 0x80 in each byte of x that is zero, and nothing else.
constexpr std::uint64_t zero_bytes(std::uint64_t x)
{
    return ~(((x & EACH(0x7F)) + EACH(0x7F)) | x | EACH(0x7F));
}

// How many of eight bytes x (following a plain character) the text keeps
// as they are: those before the first that is not a plain ASCII character
// or a single space, less a space last among them (whether it stays
// depends on what follows).
int prose(std::uint64_t x)
{
    const std::uint64_t spaces = zero_bytes(x ^ EACH(' '));
    // 0x80 in each byte that stops the run. A carry of the sum below only
    // reaches bytes above one at 0x80 or more, which stops the run already.
    const std::uint64_t stops = (x & EACH(0x80)) |                  // not ASCII
                                (~(x + EACH(0x60)) & EACH(0x80)) |  // below 0x20
                                zero_bytes(x ^ EACH(0x7F)) | zero_bytes(x ^ EACH('<')) | zero_bytes(x ^ EACH('&')) |
                                (spaces & (spaces << 8 | 0x80));    // a second space, or one first
    int kept = stops == 0 ? 8 : __builtin_ctzll(stops) / 8;
    if (kept != 0 && (spaces >> (8 * kept - 1) & 1))
        --kept;
    return kept;
}

// Copies the prose that starts at in (following a plain character) to out,
// a block at a time, while n bytes and room remain for a block; returns the
// bytes kept, as prose() counts them.
std::size_t copy_prose(const std::uint8_t* in, std::size_t n, char16_t* out, std::size_t room)
{
    std::size_t done = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: as prose(), with one signed comparison for
    // the bytes below 0x20 and those of 0x80 or more.
    const __m128i zero = _mm_setzero_si128();
    while (n - done >= 16 && room - done >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        const unsigned spaces = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(' '))));
        const __m128i other = _mm_or_si128(
            _mm_or_si128(_mm_cmplt_epi8(x, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(x, _mm_set1_epi8(0x7F))),
            _mm_or_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('<')), _mm_cmpeq_epi8(x, _mm_set1_epi8('&'))));
        const unsigned stops = unsigned(_mm_movemask_epi8(other)) | (spaces & (spaces << 1 | 1)) | 0x10000;
        unsigned kept = unsigned(__builtin_ctz(stops));
        if (kept != 0 && (spaces >> (kept - 1) & 1))
            --kept;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8), _mm_unpackhi_epi8(x, zero));
        done += kept;
        if (kept != 16)
            return done;
    }
#endif
    for (int kept; n - done >= 8 && room - done >= 8 && (kept = prose(load8(in + done))) != 0;) {
        for (int k = 0; k < 8; ++k)
            out[done + std::size_t(k)] = in[done + std::size_t(k)];
        done += std::size_t(kept);
        if (kept != 8)
            break;
    }
    return done;
}

// The first '<' at or after from of the n bytes that "/" follows, or that
// is the last of them; else n: eight at a time.
std::size_t find_end_tag(const std::uint8_t* bytes, std::size_t from, std::size_t n)
{
    std::size_t i = from;
    for (; n - i >= 9; i += 8) {
        const std::uint64_t hits = zero_bytes(load8(bytes + i) ^ EACH('<')) & zero_bytes(load8(bytes + i + 1) ^ EACH('/'));
        if (hits != 0)
            return i + std::size_t(__builtin_ctzll(hits) / 8);
    }
    for (; i < n; ++i)
        if (bytes[i] == '<' && (i + 1 == n || bytes[i + 1] == '/'))
            return i;
    return n;
}

// The first at or after from of the n bytes that is b, or n: eight bytes at
// a time (the runtime's memchr is slow on some platforms).
std::size_t find_byte(const std::uint8_t* bytes, std::size_t from, std::size_t n, std::uint8_t b)
{
    std::size_t i = from;
    for (; n - i >= 8; i += 8) {
        const std::uint64_t hits = zero_bytes(load8(bytes + i) ^ EACH(b));
        if (hits != 0)
            return i + std::size_t(__builtin_ctzll(hits) / 8);
    }
    while (i < n && bytes[i] != b)
        ++i;
    return i;
}


}  // namespace

std::uint8_t MarkupText::tag_kind() const
{
    static const TagTable tags;
    return tags.find(name_, name_size_, true);
}

void MarkupText::start(std::u16string& out, std::size_t room)
{
    const std::size_t used = out.size();
    out.resize(used + room);
    out_ = &out;
    write_ = &out[0] + used;
    write_end_ = &out[0] + out.size();
}

void MarkupText::grow()
{
    const std::size_t used = std::size_t(write_ - &(*out_)[0]);
    out_->resize(out_->size() + out_->size() / 2 + 64);
    write_ = &(*out_)[0] + used;
    write_end_ = &(*out_)[0] + out_->size();
}

void MarkupText::stop()
{
    out_->resize(std::size_t(write_ - &(*out_)[0]));
    out_ = nullptr;
    write_ = write_end_ = nullptr;
}

void MarkupText::feed(const std::uint8_t* bytes, std::size_t n, std::u16string& out)
{
    // A byte gives at most one character on average; what an earlier feed
    // left pending (a separator, a reference, '<') comes on top.
    start(out, n + 64);
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t b = bytes[i];
        // Fast paths, which do what the state machine does for these bytes.
        if (needed_ == 0 && state_ == State::text) {
            if (b == '<' && skipping_ != Skip::style && skipping_ != Skip::script) {
                const std::size_t after = whole_tag(bytes + i, n - i);
                if (after != 0) {
                    i += after;
                    continue;
                }
            } else if (skipping_ != Skip::none) {
                // Only '<' matters here, and no UTF-8 sequence contains it;
                // in a style sheet or script only "</".
                const bool raw = skipping_ == Skip::style || skipping_ == Skip::script;
                const std::size_t at = raw ? find_end_tag(bytes, i, n) : find_byte(bytes, i, n, '<');
                if (at != i) {
                    i = at;
                    continue;
                }
            } else if (b < 0x80 && ASCII.of[b] == PLAIN) {
                if (separator_ != Separator::none && started_)
                    put(separator_ == Separator::paragraph ? u'\n' : u' ');
                separator_ = Separator::none;
                started_ = true;
                // Words of plain characters and the single spaces between
                // them, copied in one loop (through locals: the bytes may
                // alias the members).
                char16_t* w = write_;
                char16_t* const end = write_end_;
                for (;;) {
                    const std::size_t kept = copy_prose(bytes + i, n - i, w, std::size_t(end - w));
                    w += kept;
                    i += kept;
                    std::uint8_t c;
                    while (i < n && w != end && (c = bytes[i]) < 0x80 && ASCII.of[c] == PLAIN) {
                        *w++ = c;
                        ++i;
                    }
                    if (n - i >= 2 && w != end && bytes[i] == ' ' && (c = bytes[i + 1]) < 0x80 && ASCII.of[c] == PLAIN) {
                        *w++ = u' ';
                        ++i;
                        continue;
                    }
                    break;
                }
                write_ = w;
                if (w == end)
                    grow();
                continue;
            } else if (b == '&') {
                const std::size_t after = whole_reference(bytes + i, n - i);
                if (after != 0) {
                    i += after;
                    continue;
                }
            } else if (b < 0x80 && ASCII.of[b] == SPACE) {
                if (separator_ == Separator::none)
                    separator_ = Separator::space;
                ++i;
                continue;
            } else if (utf8_ && b >= 0xC2 && b <= 0xDF && n - i >= 2 && (bytes[i + 1] & 0xC0) == 0x80) {
                character(char32_t(b & 0x1F) << 6 | (bytes[i + 1] & 0x3F));
                i += 2;
                continue;
            } else if (utf8_ && b >= 0xE0 && b <= 0xEF && n - i >= 3 &&
                       bytes[i + 1] >= (b == 0xE0 ? 0xA0 : 0x80) && bytes[i + 1] <= (b == 0xED ? 0x9F : 0xBF) &&
                       (bytes[i + 2] & 0xC0) == 0x80) {
                character(char32_t(b & 0x0F) << 12 | char32_t(bytes[i + 1] & 0x3F) << 6 | (bytes[i + 2] & 0x3F));
                i += 3;
                continue;
            }
        } else if (needed_ == 0 && state_ == State::tag_rest && quote_ == 0 && b < 0x80 && b != '>') {
            // Attributes, up to the tag's end, a quote or a byte past ASCII,
            // read as parse() reads them.
            bool after = after_equals_, self = self_closing_;
            for (std::uint8_t c; i < n && (c = bytes[i]) < 0x80 && c != '>'; ++i) {
                if (c == '=') {
                    after = true, self = false;
                } else if (ASCII.of[c] == SPACE) {
                } else if (after && (c == '"' || c == '\'')) {
                    quote_ = c, after = self = false;
                    ++i;
                    break;
                } else {
                    after = false, self = c == '/';
                }
            }
            after_equals_ = after, self_closing_ = self;
            continue;
        } else if (needed_ == 0 && state_ == State::tag_rest && quote_ != 0 && b != quote_) {
            i = find_byte(bytes, i, n, std::uint8_t(quote_));
            continue;
        }
        decode(b);
        ++i;
    }
    stop();
}

// A tag that starts at bytes[0] with '<' and a name, or "</" and a name,
// and ends within the n bytes with ASCII alone: read as the state machine
// reads it. Returns the bytes it took, or 0 for any other (the state
// machine reads it).
std::size_t MarkupText::whole_tag(const std::uint8_t* bytes, std::size_t n)
{
    std::size_t j = 1;
    const bool closing = j < n && bytes[j] == '/';
    j += closing;
    if (j >= n || !is_letter(bytes[j]))
        return 0;
    const std::size_t name = j;
    while (j < n && (is_letter(bytes[j]) || is_digit(bytes[j]) || bytes[j] == ':' || bytes[j] == '-' ||
                     bytes[j] == '_'))
        ++j;
    const std::size_t name_end = j;
    bool after_equals = false, self_closing = false;
    std::uint8_t quote = 0;
    for (;; ++j) {
        if (j == n)
            return 0;
        const std::uint8_t c = bytes[j];
        if (c >= 0x80)
            return 0;
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '>') {
            break;
        } else if (c == '=') {
            after_equals = true;
            self_closing = false;
        } else if (ASCII.of[c] != SPACE) {
            if (after_equals && (c == '"' || c == '\''))
                quote = c;
            after_equals = false;
            self_closing = c == '/';
        }
    }
    name_size_ = 0;
    for (std::size_t k = name; k < name_end; ++k)
        name_push(char(is_letter(bytes[k]) ? bytes[k] | 0x20 : bytes[k]));
    closing_ = closing;
    self_closing_ = self_closing;
    end_tag();
    return j + 1;
}

// References that start at bytes[0] with '&', one after another, each
// ending within the n bytes (at its ';' or at the first byte that cannot be
// in it): read as the state machine reads them, outside skipped content.
// Returns the bytes taken, before the first that the bytes end (the state
// machine reads it); 0 when that is the first.
std::size_t MarkupText::whole_reference(const std::uint8_t* bytes, std::size_t n)
{
    std::size_t at = 0;
    do {
        std::size_t j = at + 1;
        while (j < n && j - at <= REFERENCE_MAX && (is_letter(bytes[j]) || is_digit(bytes[j]) || bytes[j] == '#'))
            ++j;
        if (j == n)
            return at;
        const char* const name = reinterpret_cast<const char*>(bytes + at + 1);
        const std::size_t size = j - at - 1;
        const char32_t value = bytes[j] == ';' ? resolve(name, size) : 0;
        if (value != 0) {
            character(value);
        } else {
            // Not a reference: its bytes are text (ASCII, none of them a
            // space), with the ';' that ended it.
            character('&');
            for (std::size_t k = 0; k < size; ++k)
                put(char16_t(name[k]));
            if (bytes[j] == ';')
                put(u';');
        }
        at = bytes[j] == ';' ? j + 1 : j;
    } while (at < n && bytes[at] == '&');
    return at;
}

void MarkupText::decode(std::uint8_t b)
{
    if (!utf8_) {
        parse(b >= 0x80 && b < 0xA0 ? char32_t(CP1252_HIGH[b - 0x80]) : char32_t(b));
        return;
    }
    // UTF-8 as the WHATWG decoder reads it: each maximal invalid subpart
    // becomes one U+FFFD.
    if (needed_ == 0) {
        if (b < 0x80) {
            parse(b);
        } else if (b >= 0xC2 && b <= 0xDF) {
            needed_ = 1, code_ = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            lower_ = b == 0xE0 ? 0xA0 : 0x80, upper_ = b == 0xED ? 0x9F : 0xBF;
            needed_ = 2, code_ = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            lower_ = b == 0xF0 ? 0x90 : 0x80, upper_ = b == 0xF4 ? 0x8F : 0xBF;
            needed_ = 3, code_ = b & 0x07;
        } else {
            parse(0xFFFD);
        }
        return;
    }
    if (b < lower_ || b > upper_) {
        needed_ = 0, lower_ = 0x80, upper_ = 0xBF;
        parse(0xFFFD);
        decode(b);  // the byte starts afresh
        return;
    }
    lower_ = 0x80, upper_ = 0xBF;
    code_ = code_ << 6 | (b & 0x3F);
    if (--needed_ == 0)
        parse(code_);
}

void MarkupText::finish(std::u16string& out)
{
    start(out, 64);
    if (needed_ != 0) {
        needed_ = 0, lower_ = 0x80, upper_ = 0xBF;
        parse(0xFFFD);
    }
    if (state_ == State::reference)
        flush_reference();
    else if (state_ == State::tag_open && skipping_ == Skip::none)
        character('<');
    state_ = State::text;
    stop();
}

void MarkupText::parse(char32_t c)
{
    switch (state_) {
    case State::text:
        if (c == '<') {
            state_ = State::tag_open;
        } else if (skipping_ != Skip::none) {
            // Skipped content: nothing in it is resolved or kept.
        } else if (c == '&') {
            state_ = State::reference;
            reference_.clear();
        } else {
            character(c);
        }
        return;
    case State::tag_open:
        name_size_ = 0;
        closing_ = self_closing_ = after_equals_ = false;
        quote_ = 0;
        if (skipping_ == Skip::style || skipping_ == Skip::script) {
            // Their content is not markup: only an end tag ends it.
            state_ = c == '/' ? State::tag_name : State::text;
            closing_ = true;
            if (c != '/')
                parse(c);
        } else if (c == '/') {
            closing_ = true;
            state_ = State::tag_name;
        } else if (is_letter(c)) {
            name_push(char(c | 0x20));
            state_ = State::tag_name;
        } else if (c == '!') {
            dashes_ = 0;
            state_ = State::bang;
        } else if (c == '?') {
            state_ = State::tag_rest;
        } else {
            // Not a tag: the '<' is text.
            state_ = State::text;
            if (skipping_ == Skip::none)
                character('<');
            parse(c);
        }
        return;
    case State::tag_name:
        if (is_letter(c) || is_digit(c) || c == ':' || c == '-' || c == '_') {
            name_push(char(is_letter(c) ? c | 0x20 : c));
            return;
        }
        state_ = State::tag_rest;
        parse(c);
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
        parse(c);
        return;
    case State::comment:
        if (c == '>' && dashes_ >= 2)
            state_ = State::text;
        else
            dashes_ = c == '-' ? dashes_ + 1 : 0;
        return;
    case State::reference:
        if (c == ';') {
            state_ = State::text;
            const char32_t value = resolve(reference_.data(), reference_.size());
            if (value != 0) {
                character(value);
            } else {
                flush_reference();
                character(';');
            }
        } else if ((is_letter(c) || is_digit(c) || c == '#') && reference_.size() < REFERENCE_MAX) {
            reference_.push_back(char(c));
        } else {
            flush_reference();
            parse(c);
        }
        return;
    }
}

void MarkupText::flush_reference()
{
    state_ = State::text;
    if (skipping_ != Skip::none)
        return;
    character('&');
    for (char c : reference_)
        character(char32_t(c));
}

void MarkupText::end_tag()
{
    state_ = State::text;
    const std::uint8_t kind = tag_kind();
    if (skipping_ == Skip::style || skipping_ == Skip::script) {
        if (closing_ && (kind & (4 << int(skipping_))))
            skipping_ = in_head_ ? Skip::head : Skip::none;
        return;
    }
    if (skipping_ == Skip::head) {
        // The tag just read, in the head, ends it (declarations and
        // processing instructions, which have no name, do not).
        const bool ends = name_size_ != 0 && (closing_ ? (kind & ENDS_HEAD) != 0 : (kind & IN_HEAD) == 0);
        if (!ends) {
            if (!closing_ && !self_closing_ && (kind & (SKIPS_STYLE | SKIPS_SCRIPT)))
                skipping_ = kind & SKIPS_STYLE ? Skip::style : Skip::script;
            return;
        }
        skipping_ = Skip::none;
        in_head_ = false;
        if (closing_ && (kind & SKIPS_HEAD))
            return;
        // Any other tag that ends the head is read as in the body.
    }
    if (!closing_ && !self_closing_ && (kind & (SKIPS_HEAD | SKIPS_STYLE | SKIPS_SCRIPT))) {
        skipping_ = kind & SKIPS_HEAD ? Skip::head : kind & SKIPS_STYLE ? Skip::style : Skip::script;
        in_head_ = skipping_ == Skip::head;
        return;
    }
    if (kind & BLOCK)
        paragraph();
}

void MarkupText::character(char32_t c)
{
    if (is_space(c)) {
        if (separator_ == Separator::none)
            separator_ = Separator::space;
        return;
    }
    if (c < 0x20 || c == 0x7F || c == 0xFEFF)
        return;  // controls and byte order marks are not text
    if (started_ && separator_ != Separator::none)
        put(separator_ == Separator::paragraph ? u'\n' : u' ');
    separator_ = Separator::none;
    started_ = true;
    if (c >= 0x10000) {
        c -= 0x10000;
        put(char16_t(0xD800 + (c >> 10)));
        put(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
        put(char16_t(c));
    }
}
