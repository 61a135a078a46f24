// Where a reader of a book starts: EXTH 116, the guide's text reference, a
// table of contents standing there, offsets that fall inside a tag or past
// the records' declared size; and the work the search may take on books
// made to make it long.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/reading_start.h"
#include "text/text_reader.h"
#include "harness.h"
#include "tests/support/mobi_builder.h"

using namespace mobi_test;

namespace {

// The first 40 characters a reader gives from where the book starts (ASCII
// books), and that start.
std::string opening(std::uint64_t& start, MemoryReader& reader)
{
    TextReader text(reader);
    if (text.open() != BOOK_OK)
        return "(not opened)";
    EXPECT_EQ(find_reading_start(text, start), BOOK_OK);
    if (!text.start_at(start))
        return "(start refused)";
    std::u16string all, piece;
    while (all.size() < 40 && text.end() == TextEnd::none && text.next(piece) == BOOK_OK)
        all += piece;
    return std::string(all.begin(), all.begin() + std::ptrdiff_t(std::min<std::size_t>(all.size(), 40)));
}

std::string filepos(std::size_t at)
{
    std::string digits = std::to_string(at);
    return std::string(10 - digits.size(), '0') + digits;
}

const std::string HEAD = "<html><head><title>T</title></head><body>";
const std::string FRONT = "<p>Front matter that a reader passes over.</p>";
const std::string CHAPTER = "<p>Chapter One begins here, and it goes on for long enough to be prose of its own.</p>"
                            "<p>Second paragraph.</p>";

}  // namespace

TEST(ReadingStartTest, StartsWhereTheBookSays)
{
    const std::string plain = HEAD + FRONT + CHAPTER;
    const std::size_t chapter = plain.find("<p>Chapter");
    // The guide's reference names the chapter by a filepos of ten digits.
    std::string guided = "<html><head><guide><reference type=\"text\" title=\"Start\" filepos=0000000000 />"
                         "</guide><title>T</title></head><body>" + FRONT + CHAPTER;
    guided.replace(guided.find("0000000000"), 10, filepos(guided.find("<p>Chapter")));
    const std::string links = "<a filepos=" + filepos(chapter) + ">";
    const std::string contents = HEAD + "<h2>Contents</h2><p>" + links + "One</a></p><p>" + links + "Two</a> 2</p>" +
                                 "<p>" + links + "Three</a></p>" + CHAPTER;
    const std::string linked_headings = HEAD + "<h1>" + links + "Part One</a></h1><h2>" + links +
                                        "The Beginning</a></h2>" + CHAPTER;
    // Contents as real writers make them: chapter links with unlinked author
    // names and page numbers under "THE CONTENTS", ended by a page break;
    // numbered lines under a Russian heading; links with an unlinked line
    // under a Chinese one; and a landmark link that names the start.
    const std::string kindlegen = HEAD + "<p>THE CONTENTS</p><p>" + links + "THE FIRST STORY</a></p>" +
                                  "<p>Abram S. Isaacs</p><p>190 " + links + "A FOUR-LEAVED CLOVER</a></p>" +
                                  "<p>Jane Roe</p><mbp:pagebreak/>" + CHAPTER;
    const std::string gitbook = HEAD + "<h1>\xD0\xA1\xD0\x9E\xD0\x94\xD0\x95\xD0\xA0\xD0\x96\xD0\x90\xD0\x9D\xD0\x98"
                                "\xD0\x95</h1><p>Introduction 1.1</p><p>Setting up 1.2.2</p><p>Installing 1.2.3</p>"
                                "<h1>Introduction</h1>" + CHAPTER;
    const std::string chinese = HEAD + "<p>\xE7\x9B\xAE\xE9\x8C\x84</p><p>" + links + "One</a></p><p>Preface</p><p>" +
                                links + "Two</a></p><p>" + links + "Three</a></p>" + CHAPTER;
    // GitBook's contents: links with their section numbers after them, in
    // Cyrillic under "Table of Contents" and in Chinese under 目錄.
    const std::string gitbook_links =
        HEAD + "<h1>Table of Contents</h1><p><a href=\"#a\">\xD0\x92\xD1\x8A\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB5"
        "\xD0\xBD\xD0\xB8\xD0\xB5</a> 1.1</p><p><a href=\"#b\">\xD0\xA7\xD0\xB0\xD1\x81\xD1\x82 1 - "
        "\xD0\x9E\xD1\x81\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xB8 \xD0\xBD\xD0\xB0 \xD0\x9B\xD0\xB8\xD0\xBD"
        "\xD1\x83\xD0\xBA\xD1\x81 \xD0\xB8 \xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB\xD0\xBE\xD0\xB2\xD0\xB5</a> 1.2</p>"
        "<p><a href=\"#c\">\xD0\xA7\xD0\xB0\xD1\x81\xD1\x82 2 - \xD0\x9A\xD0\xBE\xD0\xBC\xD0\xB0\xD0\xBD"
        "\xD0\xB4\xD0\xB8 \xD0\xB8 \xD0\xB4\xD0\xB8\xD1\x80\xD0\xB5\xD0\xBA\xD1\x82\xD0\xBE\xD1\x80\xD0\xB8\xD0\xB8</a> 1.3</p>" +
        CHAPTER;
    const std::string gitbook_chinese =
        HEAD + "<h1>\xE7\x9B\xAE\xE9\x8C\x84</h1>" +
        "<p><a href=\"#a\">\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0 \xE5\xAE\x89\xE8\xA3\x9D\xE8\x88\x87\xE8\xA8\xAD\xE5\xAE\x9A"
        "\xE9\x96\x8B\xE7\x99\xBC\xE7\x92\xB0\xE5\xA2\x83\xE4\xBB\xA5\xE5\x8F\x8A\xE7\xAC\xAC\xE4\xB8\x80"
        "\xE5\x80\x8B\xE7\xA8\x8B\xE5\xBC\x8F</a> 1.1</p>"
        "<p><a href=\"#b\">\xE7\xAC\xAC\xE4\xBA\x8C\xE7\xAB\xA0 \xE5\x9F\xBA\xE7\xA4\x8E\xE8\xAA\x9E\xE6\xB3\x95"
        "\xE8\x88\x87\xE8\xB3\x87\xE6\x96\x99\xE5\x9E\x8B\xE5\x88\xA5</a> 1.2</p>"
        "<p><a href=\"#c\">\xE7\xAC\xAC\xE4\xB8\x89\xE7\xAB\xA0 \xE5\x87\xBD\xE5\xBC\x8F</a> 1.3</p>" + CHAPTER;
    std::string landmark = HEAD + FRONT + "<p><a filepos=0000000000>Begin  Reading</a></p>" + FRONT + CHAPTER;
    landmark.replace(landmark.find("0000000000"), 10, filepos(landmark.find("<p>Chapter")));
    const std::string short_heading = HEAD + "<h1>Chapter 1</h1><p>Short line.</p><p>Another line 2.</p>" + CHAPTER;
    // Records of 6,000 bytes where 4,096 are declared, as format 3 writers
    // left them: the chapter is in the third record, not the fourth.
    std::string old = HEAD;
    while (old.size() < 13000)
        old += FRONT;
    old += CHAPTER;

    const struct {
        const char* name;
        std::string markup;
        std::optional<std::uint32_t> exth_start;
        std::string opens;
        std::uint32_t version = 6;
        std::size_t chunk = 4096;
    } cases[] = {
        {"nothing marks a start", plain, {}, "Front matter that a reader passes over.\n"},
        {"EXTH 116", plain, std::uint32_t(chapter), "Chapter One begins here, and it goes on "},
        {"EXTH 116 inside a tag: the next tag", plain, std::uint32_t(chapter + 2), "Second paragraph."},
        {"EXTH 116 past the text", plain, 100000000u, "Front matter that a reader passes over.\n"},
        {"the guide's text reference", guided, {}, "Chapter One begins here, and it goes on "},
        {"a table of contents of links, skipped", contents, {}, "Chapter One begins here, and it goes on "},
        {"chapter headings that link back are headings", linked_headings, {}, "Part One\nThe Beginning\nChapter One begin"},
        {"kindlegen's contents with authors' names", kindlegen, {}, "Chapter One begins here, and it goes on "},
        {"numbered lines under a contents heading", gitbook, {}, "Introduction\nChapter One begins here, an"},
        {"links with an unlinked line under a contents heading", chinese, {}, "Chapter One begins here, and it goes on "},
        {"a Begin Reading landmark", landmark, {}, "Chapter One begins here, and it goes on "},
        {"GitBook's linked sections under Table of Contents", gitbook_links, {}, "Chapter One begins here, and it goes on "},
        {"GitBook's linked sections under a Chinese heading", gitbook_chinese, {}, "Chapter One begins here, and it goes on "},
        {"a chapter that starts with short lines", short_heading, {}, "Chapter 1\nShort line.\nAnother line 2.\nCh"},
        {"format 3, records past their declared size", old, std::uint32_t(old.find("<p>Chapter")),
         "Chapter One begins here, and it goes on ", 3, 6000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint16_t compression : {1, 2}) {
            MobiBuilder b;
            b.compression = compression;
            b.version = c.version;
            if (c.exth_start)
                b.exth_u32(116, *c.exth_start);
            b.add_book_text(bytes_of(c.markup), {c.chunk});
            const Bytes book = b.build().bytes;
            MemoryReader reader(book);
            std::uint64_t start = 0;
            EXPECT_EQ(opening(start, reader), c.opens) << compression;
        }
    }
}

// A first record of 65,535 '<' (never a whole tag), then 65,000 empty
// records: the search for the guide and for a table of contents reads a
// bounded number of records, and searches each byte once.
TEST(ReadingStartTest, SearchReadsBoundedRecords)
{
    MobiBuilder b;
    b.text_record_size = 65535;
    b.text_length = 100000000;
    b.text_records = 65001;
    b.add_record(Bytes(65535, '<'));
    for (int r = 0; r < 65000; ++r)
        b.add_record({});
    const Bytes book = b.build().bytes;
    MemoryReader reader(book);
    TextReader text(reader);
    ASSERT_EQ(text.open(), BOOK_OK);
    std::uint64_t start = 1;
    EXPECT_EQ(find_reading_start(text, start), BOOK_OK);
    EXPECT_EQ(start, 0u);
    EXPECT_LT(reader.reads.size(), 600u);
}

// A record that breaks the format past the start, met while searching for
// the guide: the reader goes back, and the opening is still there.
TEST(ReadingStartTest, ARecordBrokenFurtherOnLeavesTheOpening)
{
    std::string markup = HEAD;
    while (markup.size() < 10000)
        markup += FRONT;
    MobiBuilder b;
    b.compression = 2;
    b.add_book_text(bytes_of(markup), {});
    MobiFile file = b.build();
    file.put(file.offsets[3], Bytes{0x80, 0x50});  // a distance before the record's start
    MemoryReader reader(file.bytes);
    std::uint64_t start = 1;
    EXPECT_EQ(opening(start, reader), "Front matter that a reader passes over.\n");
    EXPECT_EQ(start, 0u);
}
