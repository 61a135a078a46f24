// Where a reader of a book starts; see reading_start.h.
//
// EXTH records (in record 0 at 16 + the MOBI header's length, after
// "EXTH", the block's length and its record count): type, length (with
// these 8 bytes), value. Type 116 is the start offset, 4 bytes.
// The guide of a MOBI 6 book's head:
//   <guide><reference type="text" title="Start" filepos=0000001234 /></guide>
#include "reading_start.h"

#include <cstring>

#include "big_endian.h"
#include "text_reader.h"

namespace {

constexpr std::uint64_t MAX_SCANNED = 64 * 1024;
constexpr std::uint32_t START_OFFSET = 116;
constexpr std::size_t TAG_KEPT = 256;  // bytes of a tag looked at
// A block is still a link when this little text stands beside its links
// (numbers, page numbers, dots); a heading before the links is this short.
constexpr std::size_t LINK_BLOCK_OWN_TEXT = 8;
constexpr std::size_t HEADING_TEXT = 80;

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

}  // namespace

bool exth_start_offset(const std::vector<std::uint8_t>& record0, std::uint32_t& offset)
{
    const std::size_t size = record0.size();
    if (size < 24)
        return false;
    const std::uint8_t* const bytes = record0.data();
    const std::uint64_t exth = 16 + std::uint64_t(get4(bytes + 20));
    if (exth + 12 > size || std::memcmp(bytes + exth, "EXTH", 4) != 0)
        return false;
    const std::uint32_t count = get4(bytes + exth + 8);
    std::uint64_t at = exth + 12;
    for (std::uint32_t i = 0; i < count && at + 8 <= size; ++i) {
        const std::uint32_t type = get4(bytes + at), length = get4(bytes + at + 4);
        if (length < 8 || length > size - at)
            return false;
        if (type == START_OFFSET && length >= 12) {
            offset = get4(bytes + at + 8);
            return offset != 0xFFFFFFFF;
        }
        at += length;
    }
    return false;
}

bool guide_text_start(const std::string& markup, std::uint64_t& offset)
{
    const std::string text = lowered(markup);
    const std::size_t guide = text.find("<guide");
    if (guide == std::string::npos)
        return false;
    const std::size_t guide_end = text.find("</guide", guide);
    for (std::size_t at = text.find("<reference", guide); at < guide_end && at != std::string::npos;
         at = text.find("<reference", at + 1)) {
        const std::size_t end = text.find('>', at);
        const std::string tag = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (attribute(tag, "type") == "text" && parse_offset(attribute(tag, "filepos"), offset))
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
        } else if (!skipping_ && static_cast<unsigned char>(c) > ' ') {
            text_character();
        }
        ++offset_;
        if (offset_ >= MAX_SCANNED && answer_ == Answer::open)
            answer_ = Answer::none;
    }
    return answer_ == Answer::open;
}

bool ContentsSkipper::skip_to(std::uint64_t& offset) const
{
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
            return;
        }
}

// The block that ends here: a link, the table's heading, or text of its
// own, which ends the table (or says there is none).
void ContentsSkipper::block_boundary(std::uint64_t at)
{
    if (link_text_ && own_text_ <= LINK_BLOCK_OWN_TEXT) {
        ++link_blocks_;
    } else if (own_text_ > 0) {
        if (link_blocks_ >= 2) {
            answer_ = Answer::contents;
            answer_at_ = block_start_;
        } else if (link_blocks_ == 0 && !heading_seen_ && own_text_ <= HEADING_TEXT) {
            heading_seen_ = true;
        } else {
            answer_ = Answer::none;
        }
    }
    own_text_ = 0;
    link_text_ = false;
    block_start_ = at;
}

void ContentsSkipper::text_character()
{
    if (link_depth_ > 0) {
        link_text_ = true;
        return;
    }
    // A block that is plainly text decides at once.
    if (++own_text_ > HEADING_TEXT) {
        if (link_blocks_ >= 2) {
            answer_ = Answer::contents;
            answer_at_ = block_start_;
        } else {
            answer_ = Answer::none;
        }
    }
}

book_status find_reading_start(ByteReader& reader, const std::vector<std::uint8_t>& record0,
                               std::uint64_t& start)
{
    start = 0;
    std::string piece;
    std::uint32_t named = 0;
    if (exth_start_offset(record0, named)) {
        start = named;
    } else {
        // The guide is in the head, at the start of the markup.
        TextReader text(reader);
        book_status status = text.open();
        if (status != BOOK_OK)
            return status < 0 ? status : BOOK_OK;
        std::string markup, seen;
        while (markup.size() < MAX_SCANNED && text.end() == TextEnd::none) {
            status = text.next_markup(piece);
            if (status < 0)
                return status;
            markup += piece;
            seen += lowered(piece);
            if (seen.find("</guide") != std::string::npos || seen.find("<body") != std::string::npos)
                break;
        }
        std::uint64_t offset = 0;
        if (guide_text_start(markup, offset))
            start = offset;
    }

    TextReader text(reader);
    book_status status = text.open();
    if (status != BOOK_OK)
        return status < 0 ? status : BOOK_OK;
    if (start != 0 && !text.start_at(start))
        start = 0;
    ContentsSkipper contents;
    while (text.end() == TextEnd::none) {
        status = text.next_markup(piece);
        if (status < 0)
            return status;
        if (!contents.feed(piece))
            break;
    }
    std::uint64_t skip = 0;
    if (contents.skip_to(skip))
        start += skip;
    return BOOK_OK;
}
