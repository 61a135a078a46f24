// MobiBook's sources and lifetime: what it reads and when, how results stay
// or are retried, the streams it hands out, the copy of the source archive,
// and its log lines.
#include "book_test_support.h"

#include <shlwapi.h>

#include <algorithm>
#include <regex>

#include "server/module.h"
#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"

using mobi_test::MobiBuilder;
using mobi_test::MobiFile;

namespace {

class BookSource : public BookTest {};

// A SRCS record: the magic, 12 header bytes, the archive. (Built here rather
// than with MobiBuilder::add_srcs, whose vector insert trips a false
// -Warray-bounds of GCC 12 once inlined.)
Bytes srcs_record(const Bytes& archive)
{
    Bytes record(16 + archive.size(), 0);
    const char magic[] = "SRCS";
    std::copy(magic, magic + 4, record.begin());
    std::copy(archive.begin(), archive.end(), record.begin() + 16);
    return record;
}

// record 1-2 text, 3 SRCS, 4 JFIF image (first image: the base), 5 image,
// 6 padding, 7 the last record. No cover in EXTH: the fallback probe runs.
MobiFile layered_book()
{
    MobiBuilder builder;
    builder.exth(100, "Author");
    builder.add_text(3000);
    builder.add_text(3000);
    builder.add_record(srcs_record(mobi_test::zip_bytes(700)));
    builder.add_image(mobi_test::image_bytes(mobi_test::JPEG_JFIF, 900));
    builder.add_image(mobi_test::image_bytes(mobi_test::PNG, 500));
    builder.add_record(Bytes(64, 0x11));
    builder.add_record(Bytes(40, 0x22));
    builder.first_non_book_record = 3;
    return builder.build();
}

MobiFile not_a_mobi()
{
    MobiBuilder builder;
    builder.type_creator = "TEXtREAd";
    return builder.build();
}

TEST_F(BookSource, AnalysisReadsOnlyHeadersProbesAndSourceCandidates)
{
    const MobiFile file = layered_book();
    ComPtr<TestStream> stream = TestStream::over(file.bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());

    const auto& at = file.offsets;
    const std::vector<TestStream::Span> expected = {
        {0, 78},                          // database header
        {78, 8 * 8},                      // record list
        {at[0], file.record_size(0)},     // record 0
        {at[4], 4},                       // image signature probe
        {at[6], 20}, {at[5], 20}, {at[4], 20}, {at[3], 20},  // SRCS candidates, highest first
    };
    EXPECT_EQ(expected, stream->reads);
    EXPECT_EQ(at[4], book->cover_offset);
    EXPECT_EQ(file.record_size(4), book->cover_size);
    EXPECT_EQ(at[3] + 16, book->source_offset);
    EXPECT_EQ(700u, book->source_size);
    EXPECT_EQ(1, stream->stat_calls);

    // Accepted once and for all: no further access.
    stream->forget();
    EXPECT_TRUE(book->is_valid());
    EXPECT_EQ(0, stream->calls());
}

TEST_F(BookSource, RejectionIsFinal)
{
    ComPtr<TestStream> stream = TestStream::over(not_a_mobi().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    EXPECT_FALSE(book->is_valid());
    EXPECT_EQ(S_FALSE, book->status);
    EXPECT_EQ(1, stream->read_calls);  // the header only

    stream->forget();
    EXPECT_FALSE(book->is_valid());
    EXPECT_EQ(S_FALSE, book->status);
    EXPECT_EQ(0, stream->calls());
}

TEST_F(BookSource, AnErrorIsRetriedOnTheNextCall)
{
    ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
    stream->failing_reads = 1;
    ComPtr<MobiBook> book = book_on(stream.Get());
    EXPECT_FALSE(book->is_valid());
    EXPECT_EQ(STG_E_READFAULT, book->status);

    EXPECT_TRUE(book->is_valid());
    EXPECT_EQ(S_OK, book->status);
    EXPECT_EQ(L"Author", book->creator);
}

TEST_F(BookSource, AReadFailingPartWayReturnsTheStreamsError)
{
    // 0: header, 1: record list, 2: record 0, 3: image probe, 4: first SRCS candidate.
    for (int good_reads = 0; good_reads <= 4; ++good_reads) {
        ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
        stream->reads_before_failure = good_reads;
        stream->read_error = E_ACCESSDENIED;
        ComPtr<MobiBook> book = book_on(stream.Get());
        EXPECT_FALSE(book->is_valid()) << good_reads;
        EXPECT_EQ(E_ACCESSDENIED, book->status) << good_reads;
    }
}

TEST_F(BookSource, AShortStreamFailsTheRead)
{
    // The record list claims more bytes than the file has left: IStream_Read
    // delivers fewer bytes, which is an error, not a rejection.
    MobiFile file = layered_book();
    file.bytes.resize(file.offsets[0] + 100);
    ComPtr<TestStream> stream = TestStream::over(file.bytes);
    stream->claimed_size = file.bytes.size() + 100000;
    ComPtr<MobiBook> book = book_on(stream.Get());
    EXPECT_FALSE(book->is_valid());
    EXPECT_TRUE(FAILED(book->status));
}

TEST_F(BookSource, AStreamOf4GiBOrMoreIsRejectedUnread)
{
    for (const ULONGLONG size : {0x100000000ull, 0xFFFFFFFFFFFull}) {
        ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
        stream->claimed_size = size;
        ComPtr<MobiBook> book = book_on(stream.Get());
        EXPECT_FALSE(book->is_valid());
        EXPECT_EQ(S_FALSE, book->status);
        EXPECT_EQ(0, stream->read_calls);
    }
}

TEST_F(BookSource, PathBookOpensNothingUntilAsked)
{
    const std::wstring folder = scratch_folder();
    DeleteFileW((folder + L"\\a.mobi").c_str());  // left by an earlier run
    ComPtr<MobiBook> book = book_on(folder + L"\\a.mobi");
    EXPECT_EQ(L"a.mobi", book->file_name);
    EXPECT_EQ(folder + L"\\a.mobi", book->file_path);
    EXPECT_EQ(E_PENDING, book->status);

    // The file does not exist yet: the error is retried, and once the file
    // is there the book is read.
    EXPECT_FALSE(book->is_valid());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), book->status);
    const Bytes bytes = layered_book().bytes;
    ComPtr<IStream> out;
    ASSERT_EQ(S_OK, SHCreateStreamOnFileW((folder + L"\\a.mobi").c_str(),
                                          STGM_CREATE | STGM_WRITE, &out));
    ASSERT_EQ(S_OK, out->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
    out.Reset();
    EXPECT_TRUE(book->is_valid());
}

TEST_F(BookSource, NullStreamBookFailsEveryOperation)
{
    ComPtr<MobiBook> book = book_on(static_cast<IStream*>(nullptr));
    EXPECT_EQ(L"", book->file_name);
    EXPECT_FALSE(book->is_valid());
    EXPECT_TRUE(FAILED(book->status));
    ComPtr<IStream> stream;
    EXPECT_TRUE(FAILED(book->open_stream(&stream)));
    EXPECT_FALSE(stream);
}

TEST_F(BookSource, StreamBookHandsOutItsOwnStream)
{
    ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
    {
        ComPtr<MobiBook> book = book_on(stream.Get());
        EXPECT_EQ(2u, stream->refs());
        ComPtr<IStream> first, second;
        ASSERT_EQ(S_OK, book->open_stream(&first));
        ASSERT_EQ(S_OK, book->open_stream(&second));
        EXPECT_EQ(static_cast<IStream*>(stream.Get()), first.Get());
        EXPECT_EQ(first.Get(), second.Get());
        EXPECT_EQ(4u, stream->refs());
    }
    EXPECT_EQ(1u, stream->refs());  // the book released all it took
}

TEST_F(BookSource, PathBookOpensANewStreamEachTime)
{
    ComPtr<MobiBook> book = book_on(source_path(L"tests/data/books/no-cover.mobi"));
    ComPtr<IStream> first, second;
    ASSERT_EQ(S_OK, book->open_stream(&first));
    ASSERT_EQ(S_OK, book->open_stream(&second));
    EXPECT_TRUE(first && second);
    EXPECT_NE(first.Get(), second.Get());
}

TEST_F(BookSource, CopySourceChecksItsArgumentsBeforeOpeningAnything)
{
    ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ComPtr<IStream> destination;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &destination));
    EXPECT_EQ(E_POINTER, book->copy_source(nullptr));
    EXPECT_EQ(E_INVALIDARG, book->copy_source(destination.Get()));  // not analysed: no source
    EXPECT_EQ(0, stream->calls());

    ComPtr<MobiBook> missing = book_on(scratch_folder() + L"\\missing.mobi");
    EXPECT_EQ(E_INVALIDARG, missing->copy_source(destination.Get()));
}

TEST_F(BookSource, CopySourceCopiesTheArchiveAndLeavesThePositionBehindIt)
{
    const MobiFile file = layered_book();
    ComPtr<TestStream> stream = TestStream::over(file.bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    ComPtr<IStream> destination;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &destination));
    ASSERT_EQ(S_OK, book->copy_source(destination.Get()));
    EXPECT_EQ(mobi_test::zip_bytes(700), memory_stream_bytes(destination.Get()));
    EXPECT_EQ(book->source_offset + book->source_size, stream->position());
}

TEST_F(BookSource, CopySourceReturnsTheStreamsError)
{
    ComPtr<TestStream> stream = TestStream::over(layered_book().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    stream->failing_reads = 1;
    ComPtr<IStream> destination;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &destination));
    EXPECT_EQ(STG_E_READFAULT, book->copy_source(destination.Get()));
}

// ---- log lines, through the module's own log in this process

class BookLog : public BookTest {
protected:
    void TearDown() override
    {
        stop_module_in_process();
        BookTest::TearDown();
    }

    static bool has_line(const std::string& pattern)
    {
        const std::regex line(pattern);
        for (const std::string& message : log_messages())
            if (std::regex_match(message, line))
                return true;
        return false;
    }
};

TEST_F(BookLog, TraceLevelNamesTheFailedCheck)
{
    start_module_in_process(2);
    ComPtr<TestStream> huge = TestStream::over(layered_book().bytes);
    huge->claimed_size = 0x100000000ull;
    MobiBuilder builder;
    builder.exth_u32(201, 5);  // no image records: index out of range
    builder.add_text(100);
    ComPtr<TestStream> bad_cover = TestStream::over(builder.build().bytes);
    ULONG serial = 0;
    {
        ComPtr<MobiBook> book = book_on(huge.Get());
        serial = book->serial();
        EXPECT_FALSE(book->is_valid());
        ComPtr<MobiBook> other = book_on(bad_cover.Get());
        EXPECT_FALSE(other->is_valid());
    }
    EXPECT_TRUE(has_line(R"(analyze:Not a MOBI:\d+:\(statstg\.cbSize\.HighPart == 0\))"));
    EXPECT_TRUE(has_line(R"(analyze:Not a MOBI:\d+:\(cover_image < record_count\))"));
    char serial_text[16];
    snprintf(serial_text, sizeof serial_text, "%04lu", serial);
    EXPECT_TRUE(has_line(std::string(serial_text) + ":MobiBook\\(stream\\)"));
    EXPECT_TRUE(has_line(std::string(serial_text) + ":~MobiBook"));
}

TEST_F(BookLog, ErrorLevelLogsFailedStepsButNoRejections)
{
    start_module_in_process(1);
    ComPtr<TestStream> failing = TestStream::over(layered_book().bytes);
    failing->failing_reads = 1;
    ComPtr<TestStream> rejected = TestStream::over(not_a_mobi().bytes);
    {
        ComPtr<MobiBook> book = book_on(failing.Get());
        EXPECT_FALSE(book->is_valid());
        ComPtr<MobiBook> other = book_on(rejected.Get());
        EXPECT_FALSE(other->is_valid());
        ComPtr<MobiBook> path_book = book_on(scratch_folder() + L"\\missing.mobi");
        EXPECT_FALSE(path_book->is_valid());
    }
    EXPECT_TRUE(has_line(R"(ENSURE failed:container\.cpp:\d+:0x8003001e)"));
    EXPECT_TRUE(has_line(R"(ENSURE failed:mobi_book\.cpp:\d+:0x80070002)"));
    EXPECT_FALSE(has_line("analyze:.*"));
    EXPECT_FALSE(has_line(R"(\d{4}:.*MobiBook.*)"));
}

}  // namespace
