// Books written by another program, checked against the facts in their
// manifest; and replay of the regression folder, where any input that
// breaks the analysis under fuzzing is kept.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "tests/support/fixture_books.h"

namespace {

std::vector<std::uint8_t> read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string text(const ContainerInfo& info, const ByteSpan& s)
{
    return std::string(info.record0.begin() + s.offset, info.record0.begin() + s.offset + s.size);
}

std::vector<std::string> texts(const ContainerInfo& info, const std::vector<ByteSpan>& spans)
{
    std::vector<std::string> out;
    for (const ByteSpan& s : spans)
        out.push_back(text(info, s));
    return out;
}

}  // namespace

TEST(FixtureBooksTest, MatchTheManifest)
{
    ASSERT_GE(std::size(FIXTURE_BOOKS), 8u);
    for (const FixtureBook& book : FIXTURE_BOOKS) {
        SCOPED_TRACE(book.file);
        const std::vector<std::uint8_t> bytes = read_file(std::filesystem::path(QB_BOOKS_DIR) / book.file);
        ASSERT_FALSE(bytes.empty());
        for (bool prefer_thumbnail : {false, true}) {
            MemoryReader reader(bytes);
            RecordingObserver seen;
            ContainerInfo info;
            const book_status status = analyze_container(reader, prefer_thumbnail, seen, info);
            EXPECT_EQ(seen.failures, 0);
            if (!book.valid) {
                EXPECT_EQ(status, BOOK_NOT_MOBI);
                EXPECT_EQ(seen.rejections, 1);
                continue;
            }
            ASSERT_EQ(status, BOOK_OK) << seen.condition;
            EXPECT_EQ(broken_invariant(info, bytes.size()), "");
            EXPECT_EQ(info.record_count, book.record_count);
            EXPECT_EQ(info.creation_time, book.creation_time);
            EXPECT_EQ(info.text_encoding, book.text_encoding);
            EXPECT_EQ(info.locale, book.locale);
            EXPECT_EQ(info.image_record_base, book.image_record_base);
            EXPECT_EQ(info.first_non_book_record, book.first_non_book_record);
            EXPECT_EQ(text(info, info.title), book.title);
            EXPECT_EQ(texts(info, info.authors), book.authors);
            EXPECT_EQ(texts(info, info.contributors), book.contributors);
            EXPECT_EQ(info.has_publisher, !book.publisher.empty());
            EXPECT_EQ(text(info, info.publisher), book.publisher);
            EXPECT_TRUE(info.has_published);
            EXPECT_EQ(text(info, info.published), book.published_text);
            EXPECT_EQ(info.is_sample, book.is_sample);
            EXPECT_EQ(info.is_personal, book.is_personal);
            EXPECT_EQ(info.is_encrypted, book.is_encrypted);
            const Place cover = prefer_thumbnail ? book.cover_with_use_mobi_thumbnail : book.cover;
            EXPECT_EQ(info.cover_offset, cover.offset);
            EXPECT_EQ(info.cover_size, cover.size);
            EXPECT_EQ(info.source_offset, book.source.offset);
            EXPECT_EQ(info.source_size, book.source.size);
        }
    }
}

// Every file in the regression folder (and every fixture book) is analysed
// with both settings without fault, and an accepted one keeps its promises.
// Run under the sanitizers, this replays whatever the fuzzer has found.
TEST(FuzzRegressionsTest, Replay)
{
    namespace fs = std::filesystem;
    std::size_t replayed = 0;
    for (const char* folder : {QB_FUZZ_REGRESSIONS_DIR, QB_BOOKS_DIR}) {
        if (!fs::is_directory(folder))
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            const std::vector<std::uint8_t> bytes = read_file(entry.path());
            for (bool prefer_thumbnail : {false, true}) {
                MemoryReader reader(bytes);
                RecordingObserver seen;
                ContainerInfo info;
                const book_status status = analyze_container(reader, prefer_thumbnail, seen, info);
                EXPECT_EQ(seen.rejections + seen.failures, status == BOOK_OK ? 0 : 1);
                if (status == BOOK_OK) {
                    EXPECT_EQ(broken_invariant(info, bytes.size()), "");
                }
            }
            ++replayed;
        }
    }
    EXPECT_GE(replayed, std::size(FIXTURE_BOOKS));
}
