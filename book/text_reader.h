// The plain text of a book: its text records read one at a time,
// decompressed (none, PalmDOC LZ77, HUFF/CDIC), cut of their trailing
// entries, stripped of markup and decoded from the book's code page.
// Platform-independent; reads through a ByteReader like the container
// analysis, and holds at most a few records' worth of memory whatever the
// book's size.
//
//   TextReader text(reader);
//   if (text.open() == BOOK_OK)
//       while (text.end() == TextEnd::none && text.next(piece) == BOOK_OK)
//           use(piece);
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "byte_reader.h"

// Why the text ended, or that it has not.
enum class TextEnd {
    none,         // more text may follow
    complete,     // every text record was read
    encrypted,    // the book is encrypted (encryption type non-zero): no text
    unsupported,  // a compression or code page this reader does not read: no text
    broken,       // a record broke the format's rules or the work bound, or a
                  // read failed; the text given before it stands
};

class TextReader {
public:
    // reader must outlive the TextReader.
    explicit TextReader(ByteReader& reader);
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // Reads the PalmDB header and record 0 and checks them. BOOK_OK: the
    // book's text can be asked for with next() (end() may already say
    // encrypted or unsupported); BOOK_NOT_MOBI: not a book this reader
    // reads; a failure status: the reader's failure.
    book_status open();

    // Replaces piece with the plain text of the next text record(s), in
    // UTF-16. Words are separated by one U+0020, paragraphs by one U+000A;
    // no piece starts a paragraph with a space, and a break is never
    // doubled, also across pieces. A tag, a character reference or a UTF-8
    // sequence split across two records is joined. piece may be empty while
    // end() is none. Returns BOOK_OK, or a read failure (end() is then
    // broken). Allocation failures propagate as std::bad_alloc.
    book_status next(std::u16string& piece);

    // unsupported before open() and after BOOK_NOT_MOBI.
    TextEnd end() const;

    // From record 0, valid after open() gave BOOK_OK.
    std::uint32_t code_page() const;  // 1252 or 65001 are read
    std::uint32_t locale() const;     // the MOBI header's LCID

    // HUFF/CDIC codes decoded so far, at every nesting depth (the counter
    // the work bound limits: eight per byte of a record's output bound);
    // 0 for other compressions.
    std::uint64_t decoder_steps() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
