// Where a reader of a book starts; see reading_start.h.
//
// The guide of a MOBI 6 book's head:
//   <guide><reference type="text" title="Start" filepos=0000001234 /></guide>
#include "reading_start.h"

#include <algorithm>
#include <cstring>

#include "book/big_endian.h"
#include "text_reader.h"

namespace {

constexpr std::uint64_t MAX_SCANNED = 64 * 1024;
// Text records read at most for each step, empty ones too.
constexpr std::uint32_t MAX_SCANNED_RECORDS = 64;
const std::string GUIDE_END = "</guide";
constexpr std::size_t LABEL_BYTES = 64;  // of a link's label looked at
constexpr std::size_t TAG_KEPT = 256;  // bytes of a tag looked at
// A block is still a link when this little text stands beside its links
// (numbers, page numbers, dots); a heading before the links is this short.
constexpr std::size_t LINK_BLOCK_OWN_TEXT = 8;
constexpr std::size_t HEADING_TEXT = 80;
// An unlinked entry under a contents heading (a name, a numbered title) is
// this short.
constexpr std::size_t ENTRY_TEXT = 48;

const char* const BLOCKS[] = {"p",  "div", "br", "h1", "h2",         "h3",    "h4",    "h5",
                              "h6", "li",  "tr", "blockquote", "body", "table", "ul",    "ol",
                              "dt", "dd",  "hr", "mbp:pagebreak"};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string lowered(const std::string& text)
{
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

// The value of attribute name in a lower-case tag's text, without quotes;
// empty without one.
std::string attribute(const std::string& tag, const char* name)
{
    const std::string key = std::string(name) + "=";
    std::size_t at = 0;
    while ((at = tag.find(key, at)) != std::string::npos) {
        if (at == 0 || tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' ||
            tag[at - 1] == '\r') {
            at += key.size();
            const char quote = at < tag.size() && (tag[at] == '"' || tag[at] == '\'') ? tag[at] : 0;
            if (quote)
                ++at;
            std::size_t end = at;
            while (end < tag.size() && (quote ? tag[end] != quote
                                              : tag[end] != ' ' && tag[end] != '/' && tag[end] != '>'))
                ++end;
            return tag.substr(at, end - at);
        }
        at += key.size();
    }
    return {};
}

// Decimal digits, at most 10, below 2^32; false for anything else.
bool parse_offset(const std::string& digits, std::uint64_t& offset)
{
    if (digits.empty() || digits.size() > 10)
        return false;
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value >> 32)
        return false;
    offset = value;
    return true;
}

// A block's text, lower case (ASCII, and Cyrillic capitals in UTF-8),
// without surrounding spaces and closing punctuation.
std::string heading_key(const std::string& text)
{
    std::string key;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0xD0 && i + 1 < text.size()) {
            const unsigned char next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x90 && next <= 0x9F) {
                key += char(0xD0), key += char(next + 0x20), ++i;  // А-П as а-п
                continue;
            }
            if (next >= 0xA0 && next <= 0xAF) {
                key += char(0xD1), key += char(next - 0x20), ++i;  // Р-Я as р-я
                continue;
            }
        }
        key += lower(char(c));
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == ':' || key.back() == '.'))
        key.pop_back();
    return key;
}

// A contents heading in the book's language.
bool contents_heading(const std::string& text)
{
    static const char* const HEADINGS[] = {
        "contents", "the contents", "table of contents", "toc", "content", "inhalt", "inhaltsverzeichnis",
        "sommaire", "indice", "contenido", "contenidos", "inhoud", "sisällys", "spis treści", "innehåll",
        "\xE7\x9B\xAE\xE9\x8C\x84",                                  // 目錄
        "\xE7\x9B\xAE\xE5\xBD\x95",                                  // 目录
        "\xE7\x9B\xAE\xE6\xAC\xA1",                                  // 目次
        "\xD0\xBE\xD0\xB3\xD0\xBB\xD0\xB0\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5",  // оглавление
        "\xD1\x81\xD0\xBE\xD0\xB4\xD0\xB5\xD1\x80\xD0\xB6\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5",  // содержание
        "\xD1\x81\xD1\x8A\xD0\xB4\xD1\x8A\xD1\x80\xD0\xB6\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xB5",  // съдържание
    };
    const std::string key = heading_key(text);
    for (const char* heading : HEADINGS)
        if (key == heading)
            return true;
    // "Table des matières" and "Índice" in any code page or reference.
    return key.compare(0, 14, "table des mati") == 0 ||
           (key.size() >= 5 && key.size() <= 10 && key.compare(key.size() - 5, 5, "ndice") == 0);
}

// An entry that starts or ends with a number ("190 A Four-Leaved Clover",
// "Setting up 1.2.2").
bool numbered(const std::string& text)
{
    const std::string key = heading_key(text);
    auto number = [](const std::string& word) {
        if (word.empty() || word.size() > 12 || word[0] < '0' || word[0] > '9')
            return false;
        for (const char c : word)
            if ((c < '0' || c > '9') && c != '.')
                return false;
        return true;
    };
    const std::size_t first = key.find(' '), last = key.rfind(' ');
    return first != std::string::npos &&
           (number(key.substr(0, first)) || number(key.substr(last + 1)));
}

// The end of the tag that starts at at: its '>', looked for within
// TAG_KEPT bytes and before the next '<'; npos without one. The bytes
// looked at are not looked at again by a search that goes on from there.
std::size_t tag_end(const std::string& text, std::size_t at)
{
    const std::size_t stop = std::min(text.size(), at + TAG_KEPT);
    for (std::size_t k = at + 1; k < stop; ++k)
        if (text[k] == '>' || text[k] == '<')
            return text[k] == '>' ? k : std::string::npos;
    return std::string::npos;
}

}  // namespace

bool guide_text_start(const std::string& markup, std::uint64_t& offset)
{
    const std::string text = lowered(markup);
    const std::size_t guide = text.find("<guide");
    if (guide == std::string::npos)
        return false;
    const std::size_t guide_end = text.find("</guide", guide);
    for (std::size_t at = text.find("<reference", guide); at < guide_end && at != std::string::npos;
         at = text.find("<reference", at + 1)) {
        const std::size_t end = tag_end(text, at);
        if (end == std::string::npos)
            continue;
        const std::string tag = text.substr(at, end - at);
        if (attribute(tag, "type") == "text" && parse_offset(attribute(tag, "filepos"), offset))
            return true;
        at = end;
    }
    return false;
}

bool landmark_start(const std::string& markup, std::uint64_t& offset)
{
    const std::string text = lowered(markup.substr(0, std::size_t(std::min<std::uint64_t>(markup.size(), MAX_SCANNED))));
    for (std::size_t at = text.find("<a "); at != std::string::npos; at = text.find("<a ", at + 1)) {
        const std::size_t tag = tag_end(text, at);
        if (tag == std::string::npos)
            continue;
        const std::size_t end = tag - at;
        // The link's label: its text, tags left out, within a few bytes.
        std::string label;
        bool in_tag = false;
        for (std::size_t k = at + end + 1; k < text.size() && k < at + end + 1 + LABEL_BYTES; ++k) {
            if (text.compare(k, 3, "</a") == 0)
                break;
            const char c = text[k];
            if (c == '<' || c == '>')
                in_tag = c == '<';
            else if (!in_tag && (c != ' ' || (!label.empty() && label.back() != ' ')))
                label += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
        }
        while (!label.empty() && label.back() == ' ')
            label.pop_back();
        if ((label == "begin reading" || label == "start" || label == "start reading") &&
            parse_offset(attribute(text.substr(at, end), "filepos"), offset))
            return true;
    }
    return false;
}

bool ContentsSkipper::feed(const std::string& bytes)
{
    for (const char c : bytes) {
        if (answer_ != Answer::open)
            return false;
        if (in_tag_) {
            if (c == '>') {
                in_tag_ = false;
                tag_ended();
            } else if (tag_.size() < TAG_KEPT) {
                tag_ += lower(c == '\t' || c == '\n' || c == '\r' ? ' ' : c);
            }
        } else if (c == '<') {
            in_tag_ = true;
            tag_start_ = offset_;
            tag_.clear();
        } else if (!skipping_) {
            text_character(c);
        }
        ++offset_;
        if (offset_ >= MAX_SCANNED && answer_ == Answer::open)
            run_ended();
    }
    return answer_ == Answer::open;
}

bool ContentsSkipper::skip_to(std::uint64_t& offset)
{
    if (answer_ == Answer::open)
        run_ended();
    if (answer_ != Answer::contents)
        return false;
    offset = answer_at_;
    return true;
}

void ContentsSkipper::tag_ended()
{
    const bool closing = !tag_.empty() && tag_[0] == '/';
    std::size_t end = closing ? 1 : 0;
    while (end < tag_.size() && ((tag_[end] >= 'a' && tag_[end] <= 'z') ||
                                 (tag_[end] >= '0' && tag_[end] <= '9') || tag_[end] == ':'))
        ++end;
    const std::string name = tag_.substr(closing ? 1 : 0, end - (closing ? 1 : 0));
    if (name == "head" || name == "style" || name == "script") {
        skipping_ = !closing;
        return;
    }
    if (name == "body")
        skipping_ = false;
    if (skipping_)
        return;
    if (name == "a") {
        const std::string href = attribute(tag_, "href");
        link_depth_ = !closing && (!attribute(tag_, "filepos").empty() ||
                                   href.compare(0, 10, "kindle:pos") == 0)
                          ? 1
                          : 0;
        return;
    }
    for (const char* block : BLOCKS)
        if (name == block) {
            block_boundary(tag_start_);
            // A page break after the entries under a contents heading ends them.
            if (name == "mbp:pagebreak" && answer_ == Answer::open && contents_heading_ && entries_ >= 2)
                decide(tag_start_);
            // A heading's text counts as its own, linked or not: a chapter
            // heading that links back to the contents is no contents entry.
            heading_block_ = !closing && name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6';
            return;
        }
}

// The block that ends here: a link, the table's heading, an entry under a
// contents heading, or text of its own, which ends the table (or says
// there is none).
void ContentsSkipper::block_boundary(std::uint64_t at)
{
    const bool link_block = link_text_ && own_text_ <= LINK_BLOCK_OWN_TEXT;
    if (contents_heading_ && (own_text_ > 0 || link_text_)) {
        // A heading or a longer line ends the run.
        if (link_block || (!heading_block_ && own_text_ <= ENTRY_TEXT)) {
            ++entries_;
            if (link_block || numbered(block_text_)) {
                ++marked_;
                after_marked_ = at;
            }
        } else {
            decide(after_marked_);
        }
    } else if (link_block) {
        ++link_blocks_;
    } else if (own_text_ > 0) {
        if (link_blocks_ >= 2) {
            decide(block_start_);
        } else if (link_blocks_ == 0 && !heading_seen_ && own_text_ <= HEADING_TEXT) {
            heading_seen_ = true;
            contents_heading_ = contents_heading(block_text_);
        } else {
            answer_ = Answer::none;
        }
    }
    own_text_ = 0;
    link_text_ = false;
    block_text_.clear();
    block_start_ = at;
}

void ContentsSkipper::text_character(char c)
{
    if (static_cast<unsigned char>(c) <= ' ') {
        if (!block_text_.empty() && block_text_.back() != ' ')
            block_text_ += ' ';
        return;
    }
    if (block_text_.size() < 4 * HEADING_TEXT)
        block_text_ += c;
    if (link_depth_ > 0 && !heading_block_) {
        link_text_ = true;
        return;
    }
    // Characters, not bytes: a UTF-8 continuation byte adds none.
    if ((static_cast<unsigned char>(c) & 0xC0) == 0x80)
        return;
    // A block that is plainly text decides at once.
    if (++own_text_ > HEADING_TEXT)
        decide(contents_heading_ ? after_marked_ : block_start_);
}

// The text fed, or the part of it searched, ended with no answer: under a
// contents heading the entries so far decide; else there is no table.
void ContentsSkipper::run_ended()
{
    if (contents_heading_)
        decide(after_marked_);
    else
        answer_ = Answer::none;
}

// A run of entries ends at offset: a table of contents when there were
// two links or more, or under a contents heading two entries or more,
// mostly links or numbered; else none. Under a contents heading, a run
// ended by anything but a page break ends after its last link or numbered
// entry: short lines after it may be the text's own.
void ContentsSkipper::decide(std::uint64_t offset)
{
    const bool contents = contents_heading_ ? entries_ >= 2 && 2 * marked_ >= entries_ : link_blocks_ >= 2;
    answer_ = contents ? Answer::contents : Answer::none;
    answer_at_ = offset;
}

book_status find_reading_start(TextReader& text, std::uint64_t& start)
{
    start = 0;
    std::string piece;
    std::uint32_t named = 0;
    if (text.named_start(named)) {
        start = named;
    } else if (text.start_at(0)) {
        // The guide is in the head, at the start of the markup. Each piece is
        // searched once, from the last bytes before it on (a pattern may
        // span two pieces).
        // Without a text reference there, a "Begin Reading" link (the
        // landmarks kindlegen writes) in the first MAX_SCANNED bytes.
        std::string markup;
        for (std::uint32_t records = 0;
             records < MAX_SCANNED_RECORDS && markup.size() < MAX_SCANNED && text.end() == TextEnd::none; ++records) {
            const book_status status = text.next_markup(piece);
            if (status < 0)
                return status;
            const std::size_t from = markup.size() - std::min<std::size_t>(markup.size(), GUIDE_END.size() - 1);
            markup += piece;
            if (!text.charge(piece.size()) || lowered(markup.substr(from)).find(GUIDE_END) != std::string::npos)
                break;
        }
        // The guide's search and the landmark's each look at a byte a few
        // times.
        std::uint64_t offset = 0;
        if (!text.charge(4 * markup.size()))
            return BOOK_OK;
        if (guide_text_start(markup, offset) || landmark_start(markup, offset))
            start = offset;
    }

    if (!text.start_at(start)) {
        start = 0;
        if (!text.start_at(0))
            return BOOK_OK;
    }
    ContentsSkipper contents;
    for (std::uint32_t records = 0; records < MAX_SCANNED_RECORDS && text.end() == TextEnd::none; ++records) {
        const book_status status = text.next_markup(piece);
        if (status < 0)
            return status;
        if (!text.charge(piece.size()) || !contents.feed(piece))
            break;
    }
    std::uint64_t skip = 0;
    if (contents.skip_to(skip) && text.start_at(start + skip))
        start += skip;
    return BOOK_OK;
}
