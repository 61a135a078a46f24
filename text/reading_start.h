// Where a reader of a book starts, as a byte offset into its decompressed
// text (its markup): where the book says reading starts (EXTH 116, as the
// container analysis read it, else the
// guide's "text" reference in the markup's head, else a "Begin Reading"
// link near the start), then past a table of
// contents that stands there (a run of blocks whose text is nothing but
// links into the book: filepos links in MOBI 6, kindle:pos links in KF8).
// Platform-independent; reads with the caller's text reader, at most
// MAX_SCANNED bytes of markup and MAX_SCANNED_RECORDS records for each of
// the two steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "book/byte_reader.h"
#include "text_reader.h"

// The filepos of the guide's <reference type="text"> in markup (the start
// of a book's markup, its head); false without one.
bool guide_text_start(const std::string& markup, std::uint64_t& offset);

// The filepos of a link labelled "Begin Reading" or "Start" (the landmarks
// kindlegen writes) in the first MAX_SCANNED bytes of markup; false
// without one.
bool landmark_start(const std::string& markup, std::uint64_t& offset);

// Fed a book's markup from a point on, tells whether a table of contents
// stands there and where the first block with text of its own after it
// starts. At most one short block (the table's heading) may come before
// the links. Under a heading that says "Contents" (or the like, in the
// book's language) the table is a run of short blocks, mostly links or
// numbered entries, with unlinked lines among them; it ends at a block of
// prose, a heading or a page break.
class ContentsSkipper {
public:
    // Feeds the next bytes; false once the answer is known.
    bool feed(const std::string& bytes);
    // The offset, from the first byte fed, of the first block after a table
    // of contents; false when none stands at the start (also when the text
    // fed ends the table).
    bool skip_to(std::uint64_t& offset);

private:
    void tag_ended();
    void block_boundary(std::uint64_t at);
    void text_character(char c);
    void decide(std::uint64_t offset);
    void run_ended();

    enum class Answer : std::uint8_t { open, contents, none };
    Answer answer_ = Answer::open;
    std::uint64_t offset_ = 0;      // of the next byte fed
    std::uint64_t block_start_ = 0;
    std::uint64_t answer_at_ = 0;
    bool in_tag_ = false;
    std::uint64_t tag_start_ = 0;
    std::string tag_;               // the tag's first bytes, lower case
    bool skipping_ = false;         // in head, style or script
    int link_depth_ = 0;            // inside links into the book
    std::size_t own_text_ = 0;      // characters of the block outside links
    bool link_text_ = false;        // the block has text inside a link
    int link_blocks_ = 0;
    bool heading_seen_ = false;
    bool heading_block_ = false;    // the block is an <h1> to <h6>
    std::string block_text_;        // the block's text, links too, spaces collapsed
    bool contents_heading_ = false; // the heading says "Contents" or the like
    int entries_ = 0;               // blocks under it
    int marked_ = 0;                // of them links or numbered
    std::uint64_t after_marked_ = 0; // where the block after the last of those starts
};

// The byte offset a reader starts at (0 when nothing marks a start and no
// table of contents stands first), found with text, a reader open() made
// ready (it is left anywhere: start it at start to read on). A read failure
// is returned.
book_status find_reading_start(TextReader& text, std::uint64_t& start);
