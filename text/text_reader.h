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

#include "book/byte_reader.h"

struct ContainerInfo;

// Why the text ended, or that it has not.
enum class TextEnd {
    none,         // more text may follow
    complete,     // every text record was read
    encrypted,    // the book is encrypted (encryption type non-zero): no text
    unsupported,  // a compression or code page this reader does not read: no text
    broken,       // a record broke the format's rules or the book's work
                  // budget (work_budget.h) was spent, or a read failed; the
                  // text given before it stands
};

class TextReader {
public:
    // reader must outlive the TextReader.
    explicit TextReader(ByteReader& reader);
    ~TextReader();
    TextReader(const TextReader&) = delete;
    TextReader& operator=(const TextReader&) = delete;

    // Makes ready to read the text of the book the container analysis
    // described (its PalmDB header, record list and record 0, read once by
    // the caller's analysis of the same bytes), reading the tables the text
    // needs (HUFF and CDIC, FDST). BOOK_OK: the book's text can be asked for
    // with next() (end() may already say encrypted, unsupported or broken);
    // a failure status: the reader's failure.
    book_status open(const ContainerInfo& book);
    // The same after analysing the container itself; BOOK_NOT_MOBI: not a
    // book the analysis accepts.
    book_status open();

    // Replaces piece with the plain text of the next text record(s), in
    // UTF-16. Words are separated by one U+0020, paragraphs by one U+000A;
    // no piece starts a paragraph with a space, and a break is never
    // doubled, also across pieces. A tag, a character reference or a UTF-8
    // sequence split across two records is joined. A piece never ends with
    // a separator: the one between two pieces starts the second, and a word
    // cut by a record's end goes on at the start of the next piece (never
    // a surrogate pair, which stays whole). piece may be empty while end()
    // is none; one piece is one text record, so about the record bound at
    // most (4,096 characters in most books, 131,070 at the very most).
    // Returns BOOK_OK, or a read failure (end() is then broken).
    // Allocation failures propagate as std::bad_alloc.
    book_status next(std::u16string& piece);

    // Where a book says reading starts: makes the text start at byte offset
    // of the book's decompressed text (its markup), also after text was
    // given (the reader goes back; the dictionary and the work done stay).
    // The records before the one that holds offset are not read again,
    // except in books of format 3 or older, whose records may decompress
    // past their declared size; that record's bytes before offset are
    // skipped, and next() skips up to the next tag when offset is not 0
    // (next_markup() gives the bytes from offset). Call after open() gave
    // BOOK_OK; false, and nothing changed, for an offset past the text, a
    // book without a text record size (offset 0 always goes back), or a
    // book whose text cannot be read (encrypted, unsupported, its tables
    // broken); after a broken record it goes back too (the work bounds still
    // hold, counted over every reading). False with end() broken when the
    // records before offset break the format.
    bool start_at(std::uint64_t offset);

    // As next(), but piece is the next text record's decompressed markup as
    // it stands (from the start offset), bytes in the book's code page.
    // Between start_at() calls, use one of next() and next_markup() only.
    book_status next_markup(std::string& piece);

    // unsupported before open() and after BOOK_NOT_MOBI; broken after a
    // read failure in open().
    TextEnd end() const;

    // Where the book says reading starts (EXTH 116), as a byte offset into
    // its text; false without one.
    bool named_start(std::uint32_t& offset) const;

    // From record 0, valid after open() gave BOOK_OK.
    std::uint32_t code_page() const;  // 1252 or 65001 are read
    std::uint32_t locale() const;     // the MOBI header's LCID

    // HUFF/CDIC codes decoded so far, at every nesting depth; 0 for other
    // compressions.
    std::uint64_t decoder_steps() const;

    // The book's work so far, over every reading (work_budget.h): records
    // read, bytes decompressed and scanned, decoder steps, and what callers
    // charged for their own scans of the book's markup.
    std::uint64_t work() const;
    // Charges units of a caller's work on the book's markup to the same
    // budget; false once it is spent (the caller stops, and the text ends
    // broken at the next record).
    bool charge(std::uint64_t units);

private:
    struct State;
    std::unique_ptr<State> state_;
};
