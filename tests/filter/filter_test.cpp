// The search filter through COM as the indexer drives it: every fixture
// book's chunks walked with the IFilter contract checked on each call, long
// texts cut at the best break, and the books it refuses or that break off.
#include <windows.h>
#include <filter.h>
#include <filterr.h>
#include <ntquery.h>
#include <propkey.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "book/stream_reader.h"
#include "text/text_reader.h"
#include "filter/text_filter.h"
#include "tests/book/book_test_support.h"
#include "tests/handler/handler_test_support.h"
#include "tests/support/fixture_books.h"

namespace {

using handler_test::book_path;
using handler_test::file_stream;
using handler_test::memory_stream;

struct Chunk {
    STAT_CHUNK stat;
    std::u16string text;               // a text chunk's
    std::vector<std::wstring> values;  // a value chunk's string or strings
};

ComPtr<IFilter> filter_on(IStream* stream)
{
    ComPtr<IClassFactory> factory;
    ComPtr<IFilter> filter;
    EXPECT_EQ(S_OK, qb_module().DllGetClassObject(CLSID_QuirebinderFilter, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&filter)));
    ComPtr<IPersistStream> persist;
    EXPECT_EQ(S_OK, filter.As(&persist));
    EXPECT_EQ(S_OK, persist->Load(stream));
    return filter;
}

HRESULT init(IFilter* filter, ULONG count = 0, const FULLPROPSPEC* attributes = nullptr)
{
    ULONG flags = 1;
    const HRESULT hr = filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, count, attributes, &flags);
    EXPECT_EQ(0u, flags);
    return hr;
}

// Every chunk up to the end, text read buffer units at a time; each call's
// answer is checked against the contract on the way. With failure, a
// failed GetChunk ends the walk too, and failure is what it returned.
std::vector<Chunk> walk(IFilter* filter, ULONG buffer, HRESULT* failure = nullptr)
{
    HRESULT end = FILTER_E_END_OF_CHUNKS;
    std::vector<Chunk> chunks;
    PROPVARIANT* value = nullptr;
    std::vector<WCHAR> units(buffer + 1);
    for (;;) {
        Chunk chunk = {};
        const HRESULT hr = filter->GetChunk(&chunk.stat);
        if (hr == FILTER_E_END_OF_CHUNKS || (failure && FAILED(hr))) {
            end = hr;
            break;
        }
        EXPECT_EQ(S_OK, hr);
        if (hr != S_OK || chunks.size() > 10000)
            break;
        EXPECT_EQ(chunk.stat.idChunk, chunk.stat.idChunkSource);
        ULONG count = buffer;
        if (chunk.stat.flags == CHUNK_TEXT) {
            EXPECT_EQ(FILTER_E_NO_VALUES, filter->GetValue(&value));
            HRESULT got = S_OK;
            while (got == S_OK) {
                count = buffer;
                units[buffer] = 0xFFFF;
                got = filter->GetText(&count, units.data());
                EXPECT_TRUE(got == S_OK || got == FILTER_S_LAST_TEXT) << std::hex << got;
                EXPECT_TRUE(count <= buffer && units[buffer] == 0xFFFF);
                chunk.text.append(reinterpret_cast<const char16_t*>(units.data()), count);
            }
            EXPECT_EQ(FILTER_E_NO_MORE_TEXT, filter->GetText(&count, units.data()));
        } else {
            EXPECT_EQ(CHUNK_VALUE, chunk.stat.flags);
            EXPECT_EQ(FILTER_E_NO_TEXT, filter->GetText(&count, units.data()));
            EXPECT_EQ(S_OK, filter->GetValue(&value));
            if (value && value->vt == VT_LPWSTR)
                chunk.values.push_back(value->pwszVal);
            for (ULONG i = 0; value && value->vt == (VT_VECTOR | VT_LPWSTR) &&
                              i < value->calpwstr.cElems; ++i)
                chunk.values.push_back(value->calpwstr.pElems[i]);
            PropVariantClear(value);
            CoTaskMemFree(value);
            EXPECT_EQ(FILTER_E_NO_MORE_VALUES, filter->GetValue(&value));
        }
        chunks.push_back(chunk);
    }
    STAT_CHUNK after = {};
    EXPECT_EQ(end, filter->GetChunk(&after));  // and again
    if (failure)
        *failure = end;
    return chunks;
}

// The text of the book as the text reader gives it, read directly.
std::u16string reader_text(IStream* stream)
{
    StreamReader bytes(stream);
    TextReader reader(bytes);
    std::u16string text, piece;
    if (reader.open() == BOOK_OK)
        while (reader.end() == TextEnd::none && reader.next(piece) == BOOK_OK)
            text += piece;
    return text;
}

bool is_key(const FULLPROPSPEC& spec, const PROPERTYKEY& key)
{
    return IsEqualGUID(spec.guidPropSet, key.fmtid) && spec.psProperty.ulKind == PRSPEC_PROPID &&
           spec.psProperty.propid == key.pid;
}

const PROPERTYKEY CONTENTS = {PSGUID_STORAGE, PID_STG_CONTENTS};

// A book whose text records are records, in compression.
mobi_test::Bytes text_book(const std::vector<std::string>& records, std::uint16_t compression,
                           std::uint32_t text_length, std::uint32_t locale = 9)
{
    mobi_test::MobiBuilder builder;
    builder.compression = compression;
    builder.locale = locale;
    builder.first_non_book_record = std::uint32_t(1 + records.size());
    for (const std::string& text : records)
        builder.add_record(mobi_test::bytes_of(text));
    mobi_test::MobiFile file = builder.build();
    file.put4(file.r0(4), text_length);
    file.put2(file.r0(8), std::uint16_t(records.size()));
    return file.bytes;
}

// An uncompressed book of count units, each record holding whole units.
mobi_test::Bytes text_book(const std::string& unit, std::size_t count, std::uint32_t locale = 9)
{
    std::vector<std::string> records(1);
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < count; ++i, total += std::uint32_t(unit.size())) {
        if (records.back().size() + unit.size() > 4096)
            records.emplace_back();
        records.back() += unit;
    }
    return text_book(records, 1, total, locale);
}

// The chunks' locale: a neutral one becomes its default specific locale.
LCID chunk_locale(LCID book)
{
    const std::pair<LCID, LCID> specific[] = {
        {0x0009, 0x0409}, {0x000C, 0x040C}, {0x0011, 0x0411}, {0x0007, 0x0407}, {0x0004, 0x0804}};
    for (const auto& [neutral, to] : specific)
        if (book == neutral)
            return to;
    return book;
}

class Filter : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(S_OK, qb_module().DllCanUnloadNow()); }
};

TEST_F(Filter, EveryFixtureBookGivesTitleAndAuthorsThenAllOfItsText)
{
    for (const FixtureBook& expected : FIXTURE_BOOKS) {
        SCOPED_TRACE(expected.file);
        const std::wstring path = book_path(widen(expected.file).c_str());
        ComPtr<IStream> stream = file_stream(path);
        ComPtr<IFilter> filter = filter_on(stream.Get());
        if (!expected.valid) {
            EXPECT_EQ(FILTER_E_UNKNOWNFORMAT, init(filter.Get()));
            continue;
        }
        ASSERT_EQ(S_OK, init(filter.Get()));
        const std::vector<Chunk> chunks = walk(filter.Get(), 4096);
        ASSERT_GE(chunks.size(), 3u);
        EXPECT_TRUE(is_key(chunks[0].stat.attribute, PKEY_Title));
        EXPECT_EQ(std::vector<std::wstring>(1, widen(expected.title)), chunks[0].values);
        EXPECT_TRUE(is_key(chunks[1].stat.attribute, PKEY_Author));
        std::vector<std::wstring> authors;
        for (const std::string& author : expected.authors)
            authors.push_back(widen(author));
        EXPECT_EQ(authors, chunks[1].values);
        std::u16string text;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(i + 1, chunks[i].stat.idChunk);
            EXPECT_EQ(chunk_locale(expected.locale), chunks[i].stat.locale);
            if (i < 2)
                continue;
            EXPECT_EQ(CHUNK_TEXT, chunks[i].stat.flags);
            EXPECT_TRUE(is_key(chunks[i].stat.attribute, CONTENTS));
            EXPECT_TRUE(!chunks[i].text.empty() && chunks[i].text.size() <= CHUNK_TEXT_LIMIT);
            text += chunks[i].text;
        }
        EXPECT_EQ(reader_text(stream.Get()), text);

        // Init again starts over; a buffer of 7 units gives the same chunks.
        ASSERT_EQ(S_OK, init(filter.Get()));
        const std::vector<Chunk> again = walk(filter.Get(), 7);
        ASSERT_EQ(chunks.size(), again.size());
        for (std::size_t i = 0; i < chunks.size(); ++i)
            EXPECT_EQ(chunks[i].text, again[i].text);

        // Through a path; asked for the title alone, it gives the title alone.
        ComPtr<IPersistFile> file;
        ASSERT_EQ(S_OK, filter.As(&file));
        ASSERT_EQ(S_OK, file->Load(path.c_str(), STGM_READ));
        FULLPROPSPEC title = {PKEY_Title.fmtid, {PRSPEC_PROPID, {PKEY_Title.pid}}};
        ASSERT_EQ(S_OK, init(filter.Get(), 1, &title));
        EXPECT_EQ(1u, walk(filter.Get(), 64).size());
    }
}

TEST_F(Filter, LongTextIsCutNearTheLimitAtTheBestBreak)
{
    struct Case {
        const char* name;
        std::string unit;
        CHUNK_BREAKTYPE cut;
        LCID locale;  // the book's; the chunks carry chunk_locale() of it
    } const cases[] = {
        {"paragraphs", "<p>A paragraph of a few words that ends here.</p>", CHUNK_EOP, 0x0004},
        {"sentences", "Words and more words end a sentence. ", CHUNK_EOS, 0x0C0A},
        {"words", "words without an end ", CHUNK_EOW, 0x0011},
        {"one word", "x\xF0\xA0\x80\x8B", CHUNK_NO_BREAK, 0},  // U+2000B: a surrogate pair
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IStream> stream = memory_stream(text_book(c.unit, 100000 / c.unit.size(), c.locale));
        ComPtr<IFilter> filter = filter_on(stream.Get());
        ASSERT_EQ(S_OK, init(filter.Get()));
        const std::vector<Chunk> chunks = walk(filter.Get(), 4096);
        ASSERT_GE(chunks.size(), 5u);  // the title, then 4 text chunks or more
        std::u16string text;
        for (std::size_t i = 1; i < chunks.size(); ++i) {
            const std::u16string& part = chunks[i].text;
            text += part;
            EXPECT_EQ(chunk_locale(c.locale), chunks[i].stat.locale);
            EXPECT_LE(part.size(), CHUNK_TEXT_LIMIT);
            if (i + 1 < chunks.size()) {  // every chunk but the last is cut near the limit
                EXPECT_GT(part.size(), CHUNK_TEXT_LIMIT * 3 / 4);
                EXPECT_EQ(c.cut, chunks[i + 1].stat.breakType);
                EXPECT_FALSE(part.back() >= 0xD800 && part.back() <= 0xDBFF);
            }
        }
        EXPECT_EQ(reader_text(stream.Get()), text);
    }
}

TEST_F(Filter, RefusesWhatItCannotReadAndNeverWrites)
{
    mobi_test::MobiBuilder encrypted;
    encrypted.encryption = 2;
    encrypted.add_text(100);
    struct Case {
        const char* name;
        mobi_test::Bytes bytes;
        HRESULT init;
    } const cases[] = {
        {"palmdoc.pdb", test_data(L"books/palmdoc.pdb"), FILTER_E_UNKNOWNFORMAT},
        {"empty", {}, FILTER_E_UNKNOWNFORMAT},
        {"encrypted", encrypted.build().bytes, FILTER_E_PASSWORD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IStream> stream = memory_stream(c.bytes);
        ComPtr<IFilter> filter = filter_on(stream.Get());
        EXPECT_EQ(c.init, init(filter.Get()));
        STAT_CHUNK stat = {};
        EXPECT_EQ(E_UNEXPECTED, filter->GetChunk(&stat));
    }
    ComPtr<IClassFactory> factory;
    ComPtr<IPersistStream> unloaded;
    ASSERT_EQ(S_OK, qb_module().DllGetClassObject(CLSID_QuirebinderFilter, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&unloaded)));
    ComPtr<IFilter> filter;
    ASSERT_EQ(S_OK, unloaded.As(&filter));
    EXPECT_EQ(E_UNEXPECTED, init(filter.Get()));  // nothing loaded
    CLSID clsid = {};
    EXPECT_EQ(S_OK, unloaded->GetClassID(&clsid));
    EXPECT_EQ(CLSID_QuirebinderFilter, clsid);
    EXPECT_EQ(S_FALSE, unloaded->IsDirty());
    EXPECT_EQ(E_NOTIMPL, unloaded->Save(memory_stream({}).Get(), TRUE));
}

TEST_F(Filter, ABookThatBreaksOffGivesItsTextUpToTheBreakAndOneLogLine)
{
    set_option_dword(L"Debug", 1);
    delete_log();
    // PalmDOC: record 1 is literal bytes, record 2 copies from before its start.
    const mobi_test::Bytes book =
        text_book({"<p>Before the break</p>", std::string("\x80\x40x", 3)}, 2, 4096 + 23);
    ComPtr<IFilter> filter = filter_on(memory_stream(book).Get());
    ASSERT_EQ(S_OK, init(filter.Get()));
    const std::vector<Chunk> chunks = walk(filter.Get(), 4096);
    ASSERT_EQ(2u, chunks.size());
    EXPECT_EQ(u"Before the break", chunks[1].text.substr(0, 16));
    filter.Reset();
    // A format 8 book whose FDST record is not one: no text, and the log says why.
    mobi_test::MobiBuilder kf8;
    kf8.version = 8, kf8.fdst_record = 1;
    kf8.add_text(100);
    mobi_test::MobiFile two_flows = kf8.build();
    two_flows.put4(two_flows.r0(196), 2);
    EXPECT_EQ(S_OK, init(filter_on(memory_stream(two_flows.bytes).Get()).Get()));
    int lines = 0, fdst = 0;
    for (const std::string& message : log_messages()) {
        lines += message.find("broken off") != std::string::npos;
        fdst += message.find("no text: its FDST") != std::string::npos;
    }
    EXPECT_EQ(1, lines);
    EXPECT_EQ(1, fdst);
    clear_options();
}

// A read that fails partway through the text is the stream's failure, from
// GetChunk (and again after it), never the end of the book's chunks: the
// text given before it is the text's start.
TEST_F(Filter, AFailedReadReachesTheIndexerAsTheStreamsFailure)
{
    const mobi_test::Bytes book = text_book("<p>Words and more words in a paragraph.</p>", 3000);
    const std::u16string all = reader_text(memory_stream(book).Get());
    for (std::size_t per_mille : {100, 500, 900, 999}) {
        SCOPED_TRACE(per_mille);
        ComPtr<TestStream> stream = TestStream::over(book);
        stream->bytes_before_failure = book.size() * per_mille / 1000;
        ComPtr<IFilter> filter = filter_on(stream.Get());
        ASSERT_EQ(S_OK, init(filter.Get()));
        HRESULT failure = S_OK;
        const std::vector<Chunk> chunks = walk(filter.Get(), 4096, &failure);
        EXPECT_EQ(STG_E_READFAULT, failure);
        std::u16string text;
        for (std::size_t i = 1; i < chunks.size(); ++i)
            text += chunks[i].text;
        EXPECT_LT(text.size(), all.size());
        EXPECT_EQ(all.substr(0, text.size()), text);
    }
}

}  // namespace
