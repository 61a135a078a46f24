// The text reader: the fixture books and books built here with known text,
// word for word against libmobi's decompressed markup; markup cases under
// every way of cutting them into records; and the books that must end
// early, unsupported or encrypted, with the bound on HUFF/CDIC work.
#include <iconv.h>
#include <mobi.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/huffcdic.h"
#include "text/text_reader.h"
#include "text/work_budget.h"
#include "harness.h"
#include "tests/support/crafted_books.h"
#include "tests/support/mobi_builder.h"

using namespace mobi_test;

namespace {

std::string utf8(const std::u16string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6), out += char(0x80 | (c & 63));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 63)), out += char(0x80 | (c & 63));
        } else {
            out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 63));
            out += char(0x80 | (c >> 6 & 63)), out += char(0x80 | (c & 63));
        }
    }
    return out;
}

struct Text {
    book_status open = BOOK_E_FAIL;
    book_status last = BOOK_OK;
    TextEnd end = TextEnd::none;
    std::string text;  // UTF-8
    std::uint64_t steps = 0;
    std::uint64_t work = 0;
};

Text read_text(const Bytes& book, int fail_call = -1)
{
    MemoryReader reader(book);
    reader.fail_call = fail_call;
    TextReader t(reader);
    Text r;
    r.open = t.open();
    std::u16string piece, all;
    while (r.open == BOOK_OK && t.end() == TextEnd::none && (r.last = t.next(piece)) == BOOK_OK) {
        // A piece never starts a paragraph with a space, and never doubles a break.
        if (!piece.empty() && !all.empty() && all.back() == u'\n')
            EXPECT_NE(piece.front(), u' ');
        all += piece;
    }
    EXPECT_EQ(all.find(u"\n\n"), std::u16string::npos);
    EXPECT_EQ(all.find(u"  "), std::u16string::npos);
    r.end = t.end();
    r.text = utf8(all);
    r.steps = t.decoder_steps();
    r.work = t.work();
    return r;
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> out;
    std::string word;
    for (char c : text + ' ')
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\f') {
            if (!word.empty())
                out.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    return out;
}

// libmobi's decompressed markup (the older part of a joint file, the first
// flow of a format 8 one) as UTF-8, stripped of markup by regular
// expressions, then cut into words.
std::vector<std::string> libmobi_words(Bytes book)
{
    MOBIData* m = mobi_init();
    m->use_kf8 = false;
    FILE* file = fmemopen(book.data(), book.size(), "rb");
    std::string markup;
    if (mobi_load_file(m, file) == MOBI_SUCCESS) {
        MOBIRawml* rawml = mobi_init_rawml(m);
        if (rawml && mobi_parse_rawml_opt(rawml, m, false, false, false) == MOBI_SUCCESS && rawml->flow)
            markup.assign(reinterpret_cast<char*>(rawml->flow->data), rawml->flow->size);
        mobi_free_rawml(rawml);
    }
    const bool cp1252 = m->mh && m->mh->text_encoding && *m->mh->text_encoding == MOBI_CP1252;
    std::fclose(file);
    mobi_free(m);
    if (cp1252) {
        iconv_t cd = iconv_open("UTF-8", "CP1252");
        std::string out(markup.size() * 3, '\0');
        char* in = markup.data();
        char* to = out.data();
        std::size_t left = markup.size(), room = out.size();
        iconv(cd, &in, &left, &to, &room);
        iconv_close(cd);
        out.resize(out.size() - room);
        markup = out;
    }
    const std::regex::flag_type icase = std::regex::icase;
    markup = std::regex_replace(markup, std::regex("<!--[\\s\\S]*?-->"), "");
    markup = std::regex_replace(markup, std::regex("<(style|script)\\b[^>]*>[\\s\\S]*?</\\1\\s*>", icase), "");
    // A head holds titles, metadata and links (and the style sheets and
    // scripts gone above); the first thing else ends it, closed or not.
    markup = std::regex_replace(
        markup,
        std::regex("<head\\b[^>]*>(\\s|<(meta|link|base)\\b[^>]*>|<title\\b[^>]*>[^<]*</title\\s*>)*(</head\\s*>)?",
                   icase),
        "");
    markup = std::regex_replace(
        markup,
        std::regex("</?(p|div|br|h[1-6]|li|tr|blockquote|mbp:pagebreak|ul|ol|dl|dt|dd|table|td|th|hr|body)\\b[^>]*>",
                   icase),
        " ");
    markup = std::regex_replace(markup, std::regex("<[a-zA-Z/!?][^>]*>"), "");
    for (auto [from, to] : {std::pair{"&nbsp;", " "}, {"\xC2\xA0", " "}, {"&lt;", "<"}, {"&gt;", ">"},
                            {"&quot;", "\""}, {"&#233;", "\xC3\xA9"}, {"&#x263A;", "\xE2\x98\xBA"},
                            {"&amp;", "&"}})
        markup = std::regex_replace(markup, std::regex(from), to);
    std::string cleaned;  // controls are not text
    for (char c : markup)
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t' || c == '\r')
            cleaned += c;
    return words(cleaned);
}

Bytes read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Markup with what a book's text holds: a head, a style sheet, a script and
// a comment to skip, block and inline tags, references, and UTF-8 of two,
// three and four bytes; sections makes it run over several records.
const char* const SAMPLE_HEAD = "<html><head><title>Hidden Title</title><style>p { color: red }</style></head><body>";

Bytes sample_markup(int sections, std::string m = SAMPLE_HEAD)
{
    for (int i = 1; i <= sections; ++i) {
        const std::string n = std::to_string(i);
        m += "<h1>Section " + n + "</h1><p class=\"x\">It was a <b>dark</b> and storm<i>y</i> night &amp; the caf"
             "&#233; was &#x263A; open.</p>\n<!-- a comment " + n + " --><p>Wagahai " + n +
             ": \xE5\x90\xBE\xE8\xBC\xA9\xE3\x81\xAF\xE7\x8C\xAB\xE3\x81\xA7\xE3\x81\x82\xE3\x82\x8B "
             "Gr\xC3\xBC\xC3\x9F" "e \xE2\x80\x94 \xF0\x9F\x98\x80 end.</p><script>var hidden = 1 < 2;</script>"
             "<div>Fish&nbsp;and&nbsp;chips<br/>line two</div><mbp:pagebreak/><p>a &lt; b &gt; c &quot;q&quot;</p>\n";
    }
    return bytes_of(m + "</body></html>");
}

Bytes sample_1252(int sections)
{
    std::string m = "<html><head><style>h1 { margin: 0 }</style></head><body>";
    for (int i = 1; i <= sections; ++i)
        m += "<h1>Kapitel " + std::to_string(i) + "</h1><p>Caf\xE9 cr\xE8me, \x93quoted\x94 \x80 5 "
             "na\xEFve &amp; Stra\xDF" "e</p>\n";
    return bytes_of(m + "</body></html>");
}

// With fdst_count, a format 8 book whose FDST index points at a text record
// and has that count beside it, as writers leave it in books of one flow.
Bytes built(std::uint16_t compression, const Bytes& markup, const TextLayout& layout, std::uint32_t code_page = 65001,
            int fdst_count = -1)
{
    MobiBuilder b;
    b.compression = compression;
    b.text_encoding = code_page;
    b.version = fdst_count < 0 ? 6 : 8;
    b.fdst_record = 1;
    b.add_book_text(markup, layout);
    b.add_image(image_bytes(JPEG_JFIF, 64));
    MobiFile file = b.build();
    if (fdst_count >= 0)
        file.put4(file.r0(196), std::uint32_t(fdst_count));
    return file.bytes;
}

struct Book {
    std::string name;
    Bytes bytes;
    std::string starts;          // the text's first bytes
    std::string has;             // somewhere in the text
    std::string lacks = "color"; // nowhere in it (style sheets, heads, scripts)
};

std::vector<Book> books()
{
    const std::filesystem::path dir = QB_BOOKS_DIR;
    const std::string story = "Chapter 1\nIt was a dark and stormy night.\nChapter 2\nThe end.\n";
    const std::string first = "Section 1\nIt was a dark and stormy night & the caf\xC3\xA9 was \xE2\x98\xBA open.\n";
    return {
        {"cafe-noir.mobi", read_file(dir / "cafe-noir.mobi"), story, "Table des Mati\xC3\xA8res"},
        {"no-cover.mobi", read_file(dir / "no-cover.mobi"), story, "Inhaltsverzeichnis"},
        {"cafe-noir-source.mobi", read_file(dir / "cafe-noir-source.mobi"), story, "Chapter 2"},
        {"small-cover.mobi", read_file(dir / "small-cover.mobi"), story, "Table of Contents"},
        {"personal.mobi", read_file(dir / "personal.mobi"), story, "Table of Contents"},
        {"wagahai.mobi (joint)", read_file(dir / "wagahai.mobi"), story, "\xE7\x9B\xAE\xE6\xAC\xA1"},
        {"kf8-only.azw3", read_file(dir / "kf8-only.azw3"), story, "Table of Contents", "margin"},
        {"plain-words.azw3", read_file(dir / "plain-words.azw3"), "Plain Words\nA book of text alone",
         "Second paragraph.", "margin"},
        {"palmdoc, split everywhere, multibyte and indexing entries",
         built(2, sample_markup(30), {97, true, 2}), first, "Fish and chips\nline two\na < b > c \"q\""},
        {"palmdoc, 4096-byte records", built(2, sample_markup(60), {}), first, "Section 60\n"},
        {"uncompressed 1252", built(1, sample_1252(40), {61, false, 1}, 1252),
         "Kapitel 1\nCaf\xC3\xA9 cr\xC3\xA8me, \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC 5 na\xC3\xAFve & Stra\xC3\x9F" "e",
         "Kapitel 40", "margin"},
        {"huff/cdic, several CDIC records", built(17480, sample_markup(40), {300, true, 2, 6}), first,
         "Wagahai 40: \xE5\x90\xBE"},
        {"head never closed, ended by <body>",
         built(2, sample_markup(10, "<html><head><title>Hidden Title</title><style>p { color: red }</style><body>"), {}),
         first, "Section 10\n"},
        {"head never closed, ended by <h1>",
         built(17480, sample_markup(10, "<html><head><title>Hidden</title><meta name=a content=b><script>if (a<b) "
                                        "hidden()</script><link rel=x></p>"),
               {300, true, 2, 6}),
         first, "Section 10\n"},
        {"format 8, FDST count 0", built(2, sample_markup(10), {}, 65001, 0), first, "Section 10\n"},
        {"format 8, FDST count 1", built(2, sample_markup(10), {}, 65001, 1), first, "Section 10\n"},
        {"huff/cdic 1252", built(17480, sample_1252(40), {1000, false, 0, 8}, 1252), "Kapitel 1\nCaf\xC3\xA9",
         "Kapitel 40", "margin"},
    };
}

}  // namespace

TEST(TextReaderTest, BooksGiveTheirTextAsLibmobiReadsIt)
{
    for (const Book& book : books()) {
        SCOPED_TRACE(book.name);
        ASSERT_FALSE(book.bytes.empty());
        const Text t = read_text(book.bytes);
        ASSERT_EQ(t.open, BOOK_OK);
        EXPECT_EQ(t.end, TextEnd::complete);
        EXPECT_EQ(t.text.substr(0, book.starts.size()), book.starts);
        EXPECT_NE(t.text.find(book.has), std::string::npos);
        EXPECT_EQ(t.text.find(book.lacks), std::string::npos);
        EXPECT_EQ(t.text.find("Hidden"), std::string::npos);
        EXPECT_EQ(t.text.find("hidden"), std::string::npos);
        const std::vector<std::string> ours = words(t.text);
        const std::vector<std::string> theirs = libmobi_words(book.bytes);
        EXPECT_GT(ours.size(), 8u);
        EXPECT_EQ(ours, theirs);
    }
}

// However the markup is cut into records, the text is the same.
TEST(TextReaderTest, MarkupCasesUnderEveryCut)
{
    const struct {
        const char* markup;
        const char* text;
    } cases[] = {
        {"<p>One</p><p>Two</p>", "One\nTwo"},
        {"  lead  <b>bo</b>ld \t\r\n trail  ", "lead bold trail"},
        {"<P>  </P><div> <br> </div> A <DIV>\n</div>", "A"},
        {"<html><head><title>T</title><!DOCTYPE x><meta a=b></p><style>i<b{}</style><script>'<p>'</script><p>One<link>Two",
         "OneTwo"},
        {"<head><title>T</title><base href=x><body>Body</body>", "Body"},
        {"<head><guide><reference type=\"text\" filepos=0000000012 /></guide><title>T</title><p>Body", "Body"},
        {"<head><noscript>T</noscript></html>One", "One"},
        {"<head><title>T</title><link rel=x></head><STYLE>b{}</STYLE><script>if (a<b && c) x('</p>');</script>Body",
         "Body"},
        {"a&amp;b &lt;c&gt; &#65;&#x42;&#X43; &eacute;t&eacute; &hellip;&rsquo; &bogus; &#0; &#xD800; a&amp b &",
         "a&b <c> ABC \xC3\xA9t\xC3\xA9 \xE2\x80\xA6\xE2\x80\x99 &bogus; \xEF\xBF\xBD \xEF\xBF\xBD a&amp b &"},
        {"x<br>y<br/>z<mbp:pagebreak/>w<li>v</li><blockquote>u", "x\ny\nz\nw\nv\nu"},
        {"1 < 2 and 3 <4 <", "1 < 2 and 3 <4 <"},
        {"a<!-- <p>hidden</p> -- -->b<!DOCTYPE html>c<?xml x?>d", "abcd"},
        {"<p title=\"a>b\" alt='c>d'>T</p><img src=x.jpg/>U", "T\nU"},
        {"\xC3(\xF0\x9F\x98\x80\xED\xA0\x80|\xE2\x82", "\xEF\xBF\xBD(\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD"},
        {"a\xC2\xA0" "b\xEF\xBB\xBF" "c\x01\x7F", "a bc"},
        {"<span>w</span><span>o</span>rd <a href=\"#x\">link</a>", "word link"},
        {"<p>Twelve chars and more words  in\tprose, kept eight at a time </p>x y",
         "Twelve chars and more words in prose, kept eight at a time\nx y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markup);
        for (std::uint16_t compression : {1, 2})
            for (std::size_t chunk : {1, 2, 3, 5, 4096}) {
                SCOPED_TRACE(chunk);
                const Text t = read_text(built(compression, bytes_of(c.markup), {chunk, chunk % 2 == 1, 1}));
                EXPECT_EQ(t.end, TextEnd::complete);
                EXPECT_EQ(t.text, c.text);
            }
    }
}

namespace {

// A HUFF/CDIC book by hand: entry 0 the literal leaf, entries 1 to depth
// each fan codes of the one before, and records text records of uses codes
// of the last. cycle makes entry 1 refer to itself.
Bytes nested_book(int depth, std::size_t uses, bool cycle = false, const std::string& leaf = "",
                  int records = 1, std::size_t fan = 64)
{
    HuffCdicWriter w;
    std::vector<std::size_t> ids = {w.literal(bytes_of(leaf))};
    for (int k = 1; k <= depth; ++k)
        ids.push_back(w.compressed(std::vector<std::size_t>(fan, cycle && k == 1 ? 1 : ids.back())));
    w.count(ids.back(), 1000);
    w.finish();
    MobiBuilder b;
    b.compression = 17480;
    b.text_length = 100000000;
    b.text_records = std::uint16_t(records);
    for (int r = 0; r < records; ++r)
        b.add_record(w.encode(std::vector<std::size_t>(uses, ids.back())));
    add_huffcdic_tables(b, w.huff_record(), w.cdic_records());
    return b.build().bytes;
}

}  // namespace

TEST(TextReaderTest, BooksThatEndEarly)
{
    const Bytes markup = sample_markup(8);
    const Bytes good = built(2, markup, {1000});
    const Text whole = read_text(good);
    const Text first = [&] {
        MemoryReader reader(good);
        TextReader t(reader);
        std::u16string piece;
        t.open();
        t.next(piece);
        return Text{BOOK_OK, BOOK_OK, t.end(), utf8(piece), 0};
    }();
    ASSERT_EQ(whole.end, TextEnd::complete);
    ASSERT_LT(first.text.size(), whole.text.size());

    auto edited = [&](void (*edit)(MobiBuilder&), const TextLayout& layout = {1000}) {
        MobiBuilder b;
        b.compression = 2;
        edit(b);
        b.add_book_text(markup, layout);
        return b.build();
    };
    MobiFile bad_reference = edited([](MobiBuilder&) {});
    bad_reference.put(bad_reference.offsets[2], Bytes{0x80, 0x50});  // a distance past the output
    MobiFile bad_entry = edited([](MobiBuilder&) {}, {1000, false, 1});
    bad_entry.put(bad_entry.offsets[3] - 2, Bytes{0xFF, 0x7F});  // a trailing entry larger than its record
    MobiFile short_text = edited([](MobiBuilder& b) { b.text_length = 1234; });
    const struct {
        const char* name;
        Bytes book;
        TextEnd end;
        std::string text;  // what is given before the end
    } cases[] = {
        {"encrypted", edited([](MobiBuilder& b) { b.encryption = 2; }).bytes, TextEnd::encrypted, ""},
        {"compression 3", edited([](MobiBuilder& b) { b.compression = 3; }).bytes, TextEnd::unsupported, ""},
        {"UTF-16", edited([](MobiBuilder& b) { b.text_encoding = 1200; }).bytes, TextEnd::unsupported, ""},
        {"bad back reference", bad_reference.bytes, TextEnd::broken, first.text},
        {"bad trailing entry", bad_entry.bytes, TextEnd::broken, first.text},
        {"record past the record size", built(1, sample_markup(20), {5000}), TextEnd::broken, ""},
        {"text records past the file", edited([](MobiBuilder& b) { b.text_records = 60, b.text_length = 100000; }).bytes,
         TextEnd::broken, whole.text},
        {"no text records", edited([](MobiBuilder& b) { b.text_records = 0; }).bytes, TextEnd::complete, ""},
        {"HUFF/CDIC cycle", nested_book(3, 10, true), TextEnd::broken, ""},
        {"nesting past the depth limit", nested_book(HuffCdic::MAX_DEPTH + 1, 10), TextEnd::broken, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Text t = read_text(c.book);
        EXPECT_EQ(t.open, BOOK_OK);
        EXPECT_EQ(t.end, c.end);
        EXPECT_EQ(t.text, c.text);
    }
    // Cut at the header's text length, which falls inside a tag or word.
    const std::string cut = read_text(short_text.bytes).text;
    EXPECT_EQ(read_text(built(2, Bytes(markup.begin(), markup.begin() + 1234), {1000})).text, cut);

    // A read that fails ends the text with the failure.
    for (int call = 0; call < 12; ++call) {
        const Text t = read_text(good, call);
        EXPECT_TRUE(t.open < 0 || t.last < 0) << call;
        EXPECT_EQ(t.end, TextEnd::broken);
    }
    EXPECT_EQ(read_text(read_file(std::filesystem::path(QB_BOOKS_DIR) / "palmdoc.pdb")).open, BOOK_NOT_MOBI);

    // A stream of 4 GiB or more is refused before any read (also when the
    // book read just before left its header where the reader looks).
    for (std::uint64_t size : {std::uint64_t(good.size()), std::uint64_t(1) << 32, (std::uint64_t(1) << 32) + 78}) {
        MemoryReader reader(good);
        reader.reported_size = size;
        TextReader t(reader);
        EXPECT_EQ(t.open(), size == good.size() ? BOOK_OK : BOOK_NOT_MOBI) << size;
        EXPECT_EQ(reader.reads.empty(), size != good.size()) << size;
    }
}

// Entries that expand to nothing, each 64 of the one below, nested to the
// depth limit: expanded once each, the whole book takes a few thousand
// steps (64^20 without the cache).
TEST(TextReaderTest, NestedEmptyEntriesTakeLittleWork)
{
    const Text t = read_text(nested_book(HuffCdic::MAX_DEPTH, 4000));
    EXPECT_EQ(t.end, TextEnd::complete);
    EXPECT_EQ(t.text, "");
    EXPECT_EQ(t.steps, 4000u + 64u * HuffCdic::MAX_DEPTH);
}

// Books made to cost much: an entry that is not kept, expanded again at
// every use; many small records each the record bound's worth of text;
// codes the tables resolve only after trying 31 lengths, each try charged.
// Each stops once it has spent the book's work budget (24 units per byte
// of the file and 2^22), with no more than a record's worth over it, where
// the bounds per record alone would allow all of it.
TEST(TextReaderTest, WorkIsBoundedByTheBook)
{
    const struct {
        const char* name;
        Bytes book;
        std::string repeats;           // the text given is this, repeated
        std::uint64_t units_per_step;  // work per decoder step at least
    } cases[] = {
        {"an entry expanded at every use", repeated_entry_book(200), "", 1},
        {"records of a few bits, each the record bound of text", nested_book(2, 1, false, "ab", 3000, 32), "ab", 1},
        {"codes resolved after 31 lengths tried", slow_codes_book(1500000), "", 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Text t = read_text(c.book);
        const std::uint64_t budget = WorkBudget::PER_FILE_BYTE * c.book.size() + WorkBudget::PER_BOOK;
        EXPECT_EQ(t.end, TextEnd::broken);
        EXPECT_GT(t.work, budget);
        EXPECT_LE(t.work, budget + (1u << 18));
        EXPECT_GE(t.work, c.units_per_step * t.steps);
        std::string expected;
        while (expected.size() < t.text.size())
            expected += c.repeats;
        EXPECT_EQ(t.text, expected);
    }
}

// Memory does not grow with the book: the record list is read 512 entries
// at a time, and no read is larger than one record.
TEST(TextReaderTest, ReadsOneRecordAtATime)
{
    MobiBuilder b;
    b.compression = 2;
    b.add_book_text(sample_markup(300), {});
    const Bytes book = b.build().bytes;
    MemoryReader reader(book);
    TextReader t(reader);
    ASSERT_EQ(t.open(), BOOK_OK);
    std::u16string piece;
    int pieces = 0;
    while (t.end() == TextEnd::none && t.next(piece) == BOOK_OK)
        ++pieces;
    EXPECT_EQ(t.end(), TextEnd::complete);
    EXPECT_GT(pieces, 20);
    for (const ReadCall& r : reader.reads)
        EXPECT_LE(r.count, r.position == 0 ? 78u : 4096u) << r.position;
}

// Every input kept from fuzzing (and every fixture book) read to its end
// under the sanitizers.
TEST(TextReaderTest, ReplaysTheRegressions)
{
    namespace fs = std::filesystem;
    for (const char* folder : {QB_FUZZ_REGRESSIONS_DIR, QB_BOOKS_DIR}) {
        if (!fs::is_directory(folder))
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            const Text t = read_text(read_file(entry.path()));
            EXPECT_TRUE(t.open == BOOK_NOT_MOBI || t.end != TextEnd::none);
        }
    }
}
