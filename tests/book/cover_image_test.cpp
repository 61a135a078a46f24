// Cover decoding through a region of the book's stream: JPEG, PNG and the
// first frame of a GIF; the decoder never reads past the cover record.
#include "book_test_support.h"

#include <shlwapi.h>

#include <cwchar>

#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"

using mobi_test::MobiBuilder;
using mobi_test::MobiFile;

namespace {

class CoverImage : public BookTest {
protected:
    void SetUp() override
    {
        BookTest::SetUp();
        load_imaging();
    }
};

// A book whose first image record (the EXTH 201 cover) holds image, followed
// by a record of bytes no decoder could take for more image data.
MobiFile book_with_cover(const Bytes& image)
{
    MobiBuilder builder;
    builder.exth_u32(201, 0);
    builder.add_text(2000);
    builder.add_image(image);
    builder.add_record(Bytes(3000, 0xEE));
    builder.add_record(Bytes(100, 0x00));
    return builder.build();
}

constexpr std::uint32_t GREEN = 0xFF00FF00, RED = 0xFFFF0000, BLUE = 0xFF0000FF;

TEST_F(CoverImage, DecodesEachFormatFromTheCoverRecordAlone)
{
    const struct {
        const wchar_t* file;
        UINT width, height;
        UINT x, y;
        std::uint32_t pixel;  // 0: not checked
    } cases[] = {
        {L"images/cover-100x50.jpg", 100, 50, 0, 0, 0},
        {L"images/halves-40x30.png", 40, 30, 0, 0, RED},
        {L"images/halves-40x30.png", 40, 30, 39, 29, BLUE},
        {L"images/green-then-red-24x16.gif", 24, 16, 5, 5, GREEN},  // the first of two frames
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file, c.file + wcslen(c.file)));
        const Bytes image = test_data(c.file);
        ASSERT_FALSE(image.empty());
        const MobiFile file = book_with_cover(image);
        ComPtr<TestStream> stream = TestStream::over(file.bytes);
        ComPtr<MobiBook> book = book_on(stream.Get());
        ASSERT_TRUE(book->is_valid());
        ASSERT_EQ(file.offsets[2], book->cover_offset);
        ASSERT_EQ(image.size(), book->cover_size);

        stream->forget();
        ComPtr<IWICBitmapSource> cover;
        ASSERT_EQ(S_OK, book->get_cover_image(&cover));
        UINT width, height;
        bitmap_size(cover.Get(), width, height);
        EXPECT_EQ(c.width, width);
        EXPECT_EQ(c.height, height);
        if (c.pixel)
            EXPECT_EQ(c.pixel, bgra_pixel(cover.Get(), c.x, c.y) | 0xFF000000u);
        else
            bgra_pixel(cover.Get(), c.x, c.y);  // decodes the pixels

        ASSERT_FALSE(stream->reads.empty());
        for (const TestStream::Span& read : stream->reads)
            EXPECT_GE(read.offset, book->cover_offset);
        EXPECT_LE(stream->read_end(), std::uint64_t{book->cover_offset} + book->cover_size);
        cover.Reset();
        EXPECT_EQ(2u, stream->refs());  // the decoder let go of the stream
    }
}

TEST_F(CoverImage, ACoverCutShortIsNotCompletedFromTheNextRecord)
{
    // The PNG's last chunks lie in the next record: the decoder must not see them.
    const Bytes png = test_data(L"images/halves-40x30.png");
    ASSERT_GT(png.size(), 30u);
    MobiBuilder builder;
    builder.exth_u32(201, 0);
    builder.add_image(Bytes(png.begin(), png.end() - 20));
    builder.add_record(Bytes(png.end() - 20, png.end()));
    builder.add_record(Bytes(50, 0));
    ComPtr<TestStream> stream = TestStream::over(builder.build().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    stream->forget();
    ComPtr<IWICBitmapSource> cover;
    const HRESULT hr = book->get_cover_image(&cover);
    if (SUCCEEDED(hr)) {
        std::vector<std::uint32_t> pixels;
        EXPECT_TRUE(FAILED(copy_bgra(cover.Get(), {0, 0, 40, 30}, pixels)));
    }
    EXPECT_LE(stream->read_end(), std::uint64_t{book->cover_offset} + book->cover_size);
}

TEST_F(CoverImage, NoCoverFailsWithoutTouchingTheStream)
{
    MobiBuilder builder;
    builder.add_text(500);
    ComPtr<TestStream> stream = TestStream::over(builder.build().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    ASSERT_EQ(0u, book->cover_size);

    stream->forget();
    int not_a_source = 0;
    IWICBitmapSource* cover = reinterpret_cast<IWICBitmapSource*>(&not_a_source);
    EXPECT_EQ(E_FAIL, book->get_cover_image(&cover));
    EXPECT_EQ(nullptr, cover);
    EXPECT_EQ(0, stream->calls());
    EXPECT_EQ(2u, stream->refs());
}

TEST_F(CoverImage, UndecodableBytesReturnTheDecodersError)
{
    ComPtr<TestStream> stream = TestStream::over(book_with_cover(Bytes(600, 0x5C)).bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    ASSERT_EQ(600u, book->cover_size);

    int not_a_source = 0;
    IWICBitmapSource* cover = reinterpret_cast<IWICBitmapSource*>(&not_a_source);
    EXPECT_EQ(WINCODEC_ERR_COMPONENTNOTFOUND, book->get_cover_image(&cover));
    EXPECT_EQ(nullptr, cover);
    EXPECT_EQ(2u, stream->refs());
}

TEST_F(CoverImage, AnUnreadablePathGivesTheOpenError)
{
    // A path book whose file went away after the analysis.
    const std::wstring folder = scratch_folder();
    const std::wstring path = folder + L"\\gone.mobi";
    const Bytes bytes = book_with_cover(test_data(L"images/halves-40x30.png")).bytes;
    {
        ComPtr<IStream> out;
        ASSERT_EQ(S_OK, SHCreateStreamOnFileW(path.c_str(), STGM_CREATE | STGM_WRITE, &out));
        ASSERT_EQ(S_OK, out->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
    }
    ComPtr<MobiBook> book = book_on(path);
    ASSERT_TRUE(book->is_valid());
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    ComPtr<IWICBitmapSource> cover;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), book->get_cover_image(&cover));
    EXPECT_FALSE(cover);
}

}  // namespace
