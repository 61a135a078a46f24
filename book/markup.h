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

    void decoded(char32_t c, std::u16string& out);
    void parse(char32_t c, std::u16string& out);
    void end_tag();
    void flush_reference(std::u16string& out);
    void character(char32_t c, std::u16string& out);
    void paragraph() { separator_ = Separator::paragraph; }

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
    std::string name_;            // tag name, lower case (at most NAME_MAX bytes kept)
    std::string reference_;       // after '&' (at most REFERENCE_MAX bytes)
    int dashes_ = 0;              // '-' just seen in a comment (or after "<!")
    std::string skipping_;        // the element whose content is skipped, or empty

    Separator separator_ = Separator::none;
    bool started_ = false;        // a visible character was given
};
