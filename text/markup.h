// Book markup to plain text, fed one decompressed record at a time: the
// bytes are decoded from the book's code page (Windows-1252 or UTF-8), tags
// are dropped, the content of head, style and script is skipped, block tags
// become paragraph breaks, character references are resolved and white
// space is collapsed. Everything that can straddle two records (a UTF-8
// sequence, a tag, a comment, a reference, a pending separator) is kept in
// the object's state, so the text of a book is the same however its bytes
// are cut into records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class MarkupText {
public:
    explicit MarkupText(bool utf8) : utf8_(utf8) {}

    // Appends to out the text of n more bytes.
    void feed(const std::uint8_t* bytes, std::size_t n, std::u16string& out);
    // The bytes have ended: appends what an unfinished sequence or reference
    // stands for. A separator still pending is dropped (the text never ends
    // with one).
    void finish(std::u16string& out);

private:
    enum class State : std::uint8_t { text, tag_open, tag_name, tag_rest, bang, comment, reference };
    enum class Separator : std::uint8_t { none, space, paragraph };

    void decode(std::uint8_t b);
    std::size_t whole_tag(const std::uint8_t* bytes, std::size_t n);
    std::size_t whole_reference(const std::uint8_t* bytes, std::size_t n);
    void parse(char32_t c);
    void end_tag();
    void flush_reference();
    void character(char32_t c);
    void paragraph() { separator_ = Separator::paragraph; }
    // Output goes through a pointer into the caller's string, grown when
    // it is full.
    void start(std::u16string& out, std::size_t room);
    void put(char16_t c)
    {
        if (write_ == write_end_)
            grow();
        *write_++ = c;
    }
    void grow();
    void stop();

    const bool utf8_;
    // UTF-8 decoding: continuation bytes still needed, the code point so
    // far, and the range the next byte must fall in.
    int needed_ = 0;
    char32_t code_ = 0;
    std::uint8_t lower_ = 0x80, upper_ = 0xBF;

    State state_ = State::text;
    bool closing_ = false;        // the tag is an end tag
    bool self_closing_ = false;   // the tag's last character before '>' is '/'
    bool after_equals_ = false;   // an attribute value may start
    char32_t quote_ = 0;          // the quote of an attribute value being read
    static constexpr std::size_t NAME_MAX = 16;  // longer names match no name we act on
    char name_[NAME_MAX + 1] = {};  // tag name, lower case, its first NAME_MAX + 1 bytes
    std::size_t name_size_ = 0;
    void name_push(char c) { if (name_size_ <= NAME_MAX) name_[name_size_++] = c; }
    std::uint8_t tag_kind() const;  // what the tag's name does (markup.cpp)
    std::string reference_;       // after '&' (at most REFERENCE_MAX bytes)
    int dashes_ = 0;              // '-' just seen in a comment (or after "<!")
    // The element whose content is skipped. Style sheets and scripts are
    // not markup: only their end tag ends them. The head ends at its end
    // tag or, as HTML parsers end it, at the first tag that cannot stand in
    // a head (<body>, <p>, ...); in_head_: the style sheet or script being
    // skipped is in the head, which goes on after it.
    enum class Skip : std::uint8_t { none, head, style, script };
    Skip skipping_ = Skip::none;
    bool in_head_ = false;

    Separator separator_ = Separator::none;
    bool started_ = false;        // a visible character was given

    std::u16string* out_ = nullptr;
    char16_t* write_ = nullptr;
    char16_t* write_end_ = nullptr;
};
