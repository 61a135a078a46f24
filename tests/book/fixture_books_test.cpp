// Every fixture book, as a path and as a stream, against what its manifest
// entry says: acceptance, metadata, cover and source archive locations, the
// decoded cover size and the copied archive's hash. Books are never written.
#include "book_test_support.h"

#include <cctype>
#include <ostream>

#include "book/metadata.h"
#include "server/module.h"
#include "tests/support/fixture_books.h"
#include "tests/support/module_under_test.h"

// Names a book in test listings and failure reports.
void PrintTo(const FixtureBook& book, std::ostream* out)
{
    *out << book.file;
}

namespace {

class FixtureBooks : public BookTest, public ::testing::WithParamInterface<FixtureBook> {};

std::vector<std::wstring> wide(const std::vector<std::string>& texts)
{
    std::vector<std::wstring> out;
    for (const std::string& text : texts)
        out.push_back(widen(text));
    return out;
}

std::wstring joined(const FixtureBook& expected)
{
    std::wstring text;
    for (const std::vector<std::string>* list : {&expected.authors, &expected.contributors})
        for (const std::string& name : *list)
            text += (text.empty() ? L"" : L"; ") + widen(name);
    return text;
}

void expect_matches_manifest(MobiBook& book, const FixtureBook& expected, bool thumbnail)
{
    ASSERT_EQ(expected.valid, book.is_valid());
    if (!expected.valid) {
        EXPECT_EQ(S_FALSE, book.status);
        return;
    }
    EXPECT_EQ(S_OK, book.status);
    EXPECT_EQ(widen(expected.title), book.title);
    EXPECT_EQ(wide(expected.authors), book.authors);
    EXPECT_EQ(wide(expected.contributors), book.contributors);
    EXPECT_EQ(joined(expected), book.creator);
    EXPECT_EQ(widen(expected.publisher), book.publisher);
    EXPECT_EQ(expected.is_sample, book.is_sample);
    EXPECT_EQ(expected.is_personal, book.is_personal);
    EXPECT_EQ(expected.is_encrypted, book.is_encrypted);

    const std::string& published = expected.published_text;
    EXPECT_EQ(parse_exth_date(reinterpret_cast<const std::uint8_t*>(published.data()),
                              static_cast<std::uint32_t>(published.size())),
              book.published_date);
    EXPECT_EQ(format_creation_date(expected.creation_time), book.created_date);
    EXPECT_FALSE(book.created_date.empty());
    EXPECT_EQ(language_name(expected.locale), book.language);

    const Place& cover = thumbnail ? expected.cover_with_use_mobi_thumbnail : expected.cover;
    ComPtr<IWICBitmapSource> image;
    if (!cover.present) {
        EXPECT_EQ(0u, book.cover_offset);
        EXPECT_EQ(0u, book.cover_size);
        EXPECT_EQ(E_FAIL, book.get_cover_image(&image));
    } else {
        EXPECT_EQ(cover.offset, book.cover_offset);
        EXPECT_EQ(cover.size, book.cover_size);
        ASSERT_EQ(S_OK, book.get_cover_image(&image));
        UINT width, height;
        bitmap_size(image.Get(), width, height);
        EXPECT_EQ(cover.width, width);
        EXPECT_EQ(cover.height, height);
    }

    const Place& source = expected.source;
    ComPtr<IStream> copy;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &copy));
    if (!source.present) {
        EXPECT_EQ(0u, book.source_size);
        EXPECT_EQ(E_INVALIDARG, book.copy_source(copy.Get()));
    } else {
        EXPECT_EQ(source.offset, book.source_offset);
        EXPECT_EQ(source.size, book.source_size);
        ASSERT_EQ(S_OK, book.copy_source(copy.Get()));
        const Bytes archive = memory_stream_bytes(copy.Get());
        EXPECT_EQ(source.size, archive.size());
        EXPECT_EQ(source.sha256, sha256_hex(archive));
    }
}

TEST_P(FixtureBooks, PathAndStreamBooksReadAsTheManifestSays)
{
    load_imaging();
    const FixtureBook& expected = GetParam();
    const std::wstring path = source_path((L"tests/data/books/" + widen(expected.file)).c_str());
    const std::string before = sha256_hex(file_bytes(path));
    ASSERT_EQ(expected.sha256, before);

    for (const bool thumbnail : {false, true}) {
        g_module.use_mobi_thumbnail = thumbnail ? 1 : 0;
        {
            SCOPED_TRACE(thumbnail ? "path, UseMobiThumbnail 1" : "path");
            ComPtr<MobiBook> book = book_on(path);
            EXPECT_EQ(widen(expected.file), book->file_name);
            expect_matches_manifest(*book.Get(), expected, thumbnail);
        }
        {
            SCOPED_TRACE(thumbnail ? "stream, UseMobiThumbnail 1" : "stream");
            ComPtr<IStream> stream = open_read_only(path);
            ASSERT_TRUE(stream);
            ComPtr<MobiBook> book = book_on(stream.Get());
            EXPECT_EQ(L"", book->file_name);
            expect_matches_manifest(*book.Get(), expected, thumbnail);
        }
    }
    g_module.use_mobi_thumbnail = 0;
    EXPECT_EQ(before, sha256_hex(file_bytes(path)));
}

std::string test_name(const ::testing::TestParamInfo<FixtureBook>& info)
{
    std::string name;
    for (char c : info.param.file)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Books, FixtureBooks, ::testing::ValuesIn(FIXTURE_BOOKS), test_name);

TEST(TestSupport, Sha256OfKnownTexts)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", sha256_hex({}));
    const std::string abc = "abc";
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              sha256_hex(Bytes(abc.begin(), abc.end())));
}

}  // namespace
