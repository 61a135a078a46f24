// Container analysis on books made by MobiBuilder: every rejection with its
// condition text, the accepted edge cases, the cover and source rules, read
// failures and the bounds of what is read.
#include <functional>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "tests/support/mobi_builder.h"

using namespace mobi_test;

namespace {

struct Outcome {
    book_status status = BOOK_E_FAIL;
    ContainerInfo info;
    RecordingObserver seen;
    std::vector<ReadCall> reads;
    int calls = 0;

    std::string text(const ByteSpan& s) const
    {
        return std::string(info.record0.begin() + s.offset, info.record0.begin() + s.offset + s.size);
    }
};

Outcome analyze(MemoryReader& reader, bool prefer_thumbnail = false)
{
    Outcome run;
    run.status = analyze_container(reader, prefer_thumbnail, run.seen, run.info);
    run.reads = reader.reads;
    run.calls = reader.calls;
    return run;
}

Outcome analyze(const Bytes& bytes, bool prefer_thumbnail = false)
{
    MemoryReader reader(bytes);
    return analyze(reader, prefer_thumbnail);
}

// Records: 0, text 1-2, JPEG 3, PNG 4, end-of-file marker 5.
MobiBuilder sample()
{
    MobiBuilder b;
    b.exth(100, "Author");
    b.add_text(300);
    b.add_text(300);
    b.add_image(image_bytes(JPEG_JFIF, 200));
    b.add_image(image_bytes(PNG, 100));
    b.add_record({0xE9, 0x8E, 0x0D, 0x0A});
    return b;
}

using Edit = std::function<void(MobiBuilder&)>;
using Patch = std::function<void(MobiFile&)>;

Bytes make(const Edit& edit, const Patch& patch = {})
{
    MobiBuilder b = sample();
    if (edit)
        edit(b);
    MobiFile f = b.build();
    if (patch)
        patch(f);
    return f.bytes;
}

Bytes patched(const Patch& patch) { return make({}, patch); }

// Reads of 4 bytes: probes of the first image record.
std::size_t probes(const Outcome& run)
{
    std::size_t n = 0;
    for (const ReadCall& r : run.reads)
        n += r.count == 4;
    return n;
}

const char* const TITLE = "title_off >= mobi_header_length + 16 && title_off + title_len <= data.size()";
const char* const EXTH_LENGTH =
    "exth_header_length >= 8 && exth_header_length <= data.size() - (exth - data)";
const char* const EXTH_RECORD = "length >= 8 && p + length <= exth + exth_header_length";
const char* const RECORD_SIZE = "record_size >= 256 && record_size <= MAX_RECORD_SIZE";
const char* const MOBI_LENGTH = "mobi_header_length >= 128 && mobi_header_length <= data.size() - 16";

}  // namespace

TEST(ContainerTest, AcceptsAPlainBook)
{
    MobiFile f = sample().build();
    Outcome run = analyze(f.bytes);
    ASSERT_EQ(run.status, BOOK_OK);
    EXPECT_EQ(run.seen.rejections + run.seen.failures, 0);
    EXPECT_EQ(run.info.record_count, 6u);
    EXPECT_EQ(run.info.creation_time, 0x7B0A1C2Du);
    EXPECT_EQ(run.info.text_encoding, 65001u);
    EXPECT_EQ(run.info.locale, 9u);
    EXPECT_EQ(run.info.image_record_base, 3u);
    EXPECT_EQ(run.info.first_non_book_record, 3u);
    EXPECT_EQ(run.info.record0.size(), f.record_size(0));
    EXPECT_EQ(run.text(run.info.title), "Test Book");
    ASSERT_EQ(run.info.authors.size(), 1u);
    EXPECT_EQ(run.text(run.info.authors[0]), "Author");
    EXPECT_TRUE(run.info.has_exth);
    EXPECT_FALSE(run.info.has_publisher || run.info.has_published || run.info.is_encrypted ||
                 run.info.is_sample || run.info.is_personal || run.info.has_document_type);
    EXPECT_EQ(run.info.cover_offset, f.offsets[3]);  // JFIF signature of the first image
    EXPECT_EQ(run.info.cover_size, 200u);
    EXPECT_EQ(run.info.source_offset + run.info.source_size, 0u);
    EXPECT_TRUE(analyze(make([](MobiBuilder& b) { b.encryption = 2; })).info.is_encrypted);
}

TEST(ContainerTest, EachAnalysisStartsAfresh)
{
    MobiBuilder b = sample();
    b.exth(101, "Pub").exth(115, "").exth(501, "PDOC").add_srcs(zip_bytes(20));
    b.add_text(1);
    const Bytes first = b.build().bytes;
    MemoryReader full(first);
    RecordingObserver seen;
    ContainerInfo info;
    ASSERT_EQ(analyze_container(full, false, seen, info), BOOK_OK);
    ASSERT_TRUE(info.has_publisher && info.source_size != 0);
    MobiBuilder plain;
    plain.exth_block = false;
    plain.add_text(10);
    const Bytes second = plain.build().bytes;
    MemoryReader other(second);
    ASSERT_EQ(analyze_container(other, false, seen, info), BOOK_OK);
    EXPECT_EQ(info.record_count, 2u);
    EXPECT_FALSE(info.has_exth || info.has_publisher || info.is_sample || info.has_document_type ||
                 info.is_personal);
    EXPECT_TRUE(info.authors.empty());
    EXPECT_EQ(info.cover_offset + info.cover_size + info.source_offset + info.source_size, 0u);
}

TEST(ContainerTest, EveryCheckRejectsWithItsConditionText)
{
    struct Case {
        const char* condition;
        Bytes file;
    };
    const Case cases[] = {
        {"file_size >= 78", patched([](MobiFile& f) { f.bytes.resize(77); })},
        {"0 == memcmp(data + 60, \"BOOKMOBI\", 8)", make([](MobiBuilder& b) { b.type_creator = "BOOKMOBi"; })},
        {"record_count >= 2", make([](MobiBuilder& b) { b.record_count = 1; })},
        {"record_count >= 2", make([](MobiBuilder& b) { b.record_count = 0; })},
        {"file_size >= 78 + record_count * 8", patched([](MobiFile& f) { f.bytes.resize(78), f.put2(76, 2); })},
        {"file_size >= 78 + record_count * 8", make([](MobiBuilder& b) { b.record_count = 0x0106; })},
        {"records[0] >= 78 + record_count * 8", patched([](MobiFile& f) { f.put4(MobiFile::entry(0), 78 + 6 * 8 - 1); })},
        {"records[n - 1] <= records[n]", patched([](MobiFile& f) { f.put4(MobiFile::entry(3), f.offsets[2] - 1); })},
        {"records[n - 1] <= records[n]",  // the last record starts beyond the end of the file
         patched([](MobiFile& f) { f.put4(MobiFile::entry(5), std::uint32_t(f.bytes.size() + 1)); })},
        {RECORD_SIZE, make([](MobiBuilder& b) { b.record0_size = 255; })},
        {RECORD_SIZE, make([](MobiBuilder& b) { b.record0_size = 64001; })},
        {"get2(data + 2) == 0", make([](MobiBuilder& b) { b.reserved = 0x0100; })},
        {"memcmp(data + 16, \"MOBI\", 4) == 0", make([](MobiBuilder& b) { b.mobi_magic = "MOBi"; })},
        {MOBI_LENGTH, make([](MobiBuilder& b) { b.mobi_header_length = 127; })},
        {MOBI_LENGTH, make([](MobiBuilder& b) { b.record0_size = 400, b.mobi_header_length = 385; })},
        {MOBI_LENGTH, make([](MobiBuilder& b) { b.record0_size = 600, b.mobi_header_length = 0xFFFFFFF8; })},
        {TITLE, make([](MobiBuilder& b) { b.title_off = 16 + 232 - 1; })},
        {TITLE, make([](MobiBuilder& b) { b.record0_size = 512, b.title_off = 300, b.title_len = 213; })},
        {TITLE, make([](MobiBuilder& b) { b.title_len = 0xFFFFFFFF; })},
        {TITLE, make([](MobiBuilder& b) { b.title_off = 0xFFFFFFF0, b.title_len = 0x20; })},  // 32-bit sum 0x10
        {"image_record_base <= record_count", make([](MobiBuilder& b) { b.image_record_base = 7; })},
        {"image_record_base <= record_count", make([](MobiBuilder& b) { b.image_record_base = 0xFFFFFFFE; })},
        {EXTH_LENGTH, make([](MobiBuilder& b) { b.exth_length = 7; })},
        {EXTH_LENGTH, make([](MobiBuilder& b) { b.record0_size = 512, b.exth_length = 512 - 248 + 1; })},
        {EXTH_LENGTH, make([](MobiBuilder& b) { b.exth_length = 0xFFFFFFFF; })},
        {"p + 8 <= exth + exth_header_length", make([](MobiBuilder& b) { b.exth_count = 2; })},
        {"p + 8 <= exth + exth_header_length", make([](MobiBuilder& b) { b.exth_count = 0xFFFFFFFF; })},
        {"p + 8 <= exth + exth_header_length", make([](MobiBuilder& b) { b.exth_length = 12 + 7; })},
        {EXTH_RECORD, make([](MobiBuilder& b) { b.exth(101, "P", 7); })},
        {EXTH_RECORD, make([](MobiBuilder& b) { b.exth(101, "Pub", 12); })},  // one past the block
        {EXTH_RECORD, make([](MobiBuilder& b) { b.exth(101, "Pub", 0xFFFFFFF8); })},
        {"cover_image < record_count", make([](MobiBuilder& b) { b.exth_u32(201, 3); })},  // 3 + 3
        {"cover_image < record_count", make([](MobiBuilder& b) { b.exth_u32(202, 0x80000000); })},
        // A 202 chooses, then a 201 replaces it and is checked.
        {"cover_image < record_count", make([](MobiBuilder& b) { b.exth_u32(202, 0).exth_u32(201, 9); })},
    };
    std::map<std::string, std::set<int>> lines;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.condition);
        Outcome run = analyze(c.file);
        EXPECT_EQ(run.status, BOOK_NOT_MOBI);
        EXPECT_EQ(run.seen.rejections, 1);
        EXPECT_EQ(run.seen.failures, 0);
        EXPECT_EQ(run.seen.condition, c.condition);
        EXPECT_GT(run.seen.line, 0);
        lines[c.condition].insert(run.seen.line);
    }
    std::set<int> all;
    for (const auto& entry : lines) {
        EXPECT_EQ(entry.second.size(), 1u) << entry.first;  // one check per condition
        all.insert(entry.second.begin(), entry.second.end());
    }
    EXPECT_EQ(all.size(), lines.size());
}

TEST(ContainerTest, AcceptsTheEdgesOfEachCheck)
{
    struct Case {
        const char* what;
        Edit edit;
        std::function<void(const Outcome&)> expect;
    };
    const Case cases[] = {
        {"record 0 of 256 bytes", [](MobiBuilder& b) { b.record0_size = 256, b.mobi_header_length = 128; },
         [](const Outcome& r) { EXPECT_EQ(r.info.record0.size(), 256u); }},
        {"record 0 of 64000 bytes", [](MobiBuilder& b) { b.record0_size = 64000; },
         [](const Outcome& r) { EXPECT_EQ(r.info.record0.size(), 64000u); }},
        {"MOBI header up to the end, no EXTH lookup, empty title",
         [](MobiBuilder& b) { b.record0_size = 300, b.mobi_header_length = 284, b.title_off = 300, b.title_len = 0; },
         [](const Outcome& r) {
             EXPECT_FALSE(r.info.has_exth);
             EXPECT_EQ(r.info.title.offset, 300u);
             EXPECT_EQ(r.info.title.size, 0u);
         }},
        {"EXTH magic with 12 bytes left is not walked",
         [](MobiBuilder& b) {
             b = MobiBuilder{};
             b.add_text(100);
             b.record0_size = 300, b.mobi_header_length = 272, b.title_off = 300, b.title_len = 0;
             b.exth_count = 5;
         },
         [](const Outcome& r) { EXPECT_FALSE(r.info.has_exth); }},
        {"EXTH length 8 with no records", [](MobiBuilder& b) { b = MobiBuilder{}, b.add_text(10), b.exth_length = 8; },
         [](const Outcome& r) { EXPECT_TRUE(r.info.has_exth); }},
        {"EXTH length up to the end of record 0",
         [](MobiBuilder& b) { b.record0_size = 512, b.exth_length = 512 - 248, b.title_off = 280, b.title_len = 0; },
         [](const Outcome& r) { EXPECT_EQ(r.info.authors.size(), 1u); }},
        {"no EXTH block", [](MobiBuilder& b) { b.exth_block = false; },
         [](const Outcome& r) {
             EXPECT_FALSE(r.info.has_exth);
             EXPECT_TRUE(r.info.authors.empty());
             EXPECT_NE(r.info.cover_size, 0u);  // the image signature still finds the cover
         }},
        {"wrong EXTH magic", [](MobiBuilder& b) { b.exth_magic = "EXTh"; },
         [](const Outcome& r) { EXPECT_FALSE(r.info.has_exth); }},
        {"image_record_base equal to record_count: no probe", [](MobiBuilder& b) { b.image_record_base = 6; },
         [](const Outcome& r) {
             EXPECT_EQ(probes(r), 0u);
             EXPECT_EQ(r.info.cover_offset + r.info.cover_size, 0u);
         }},
        {"no image records (0xFFFFFFFF): EXTH 201 and 202 name no cover, nothing is probed",
         [](MobiBuilder& b) { b.image_record_base = 0xFFFFFFFF, b.exth_u32(202, 1).exth_u32(201, 0); },
         [](const Outcome& r) {
             EXPECT_EQ(probes(r), 0u);
             EXPECT_EQ(r.info.cover_offset + r.info.cover_size, 0u);
             EXPECT_EQ(r.info.authors.size(), 1u);
         }},
        {"EXTH count smaller than its records", [](MobiBuilder& b) { b.exth(100, "Second"), b.exth_count = 1; },
         [](const Outcome& r) { EXPECT_EQ(r.info.authors.size(), 1u); }},
        {"EXTH index sum wraps in 32 bits", [](MobiBuilder& b) { b.exth_u32(201, 0xFFFFFFFE); },  // 3 - 2
         [](const Outcome& r) { EXPECT_EQ(r.info.cover_size, 300u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome run = analyze(make(c.edit));
        ASSERT_EQ(run.status, BOOK_OK) << run.seen.condition;
        c.expect(run);
    }
}

TEST(ContainerTest, ExthMetadataSpans)
{
    MobiBuilder b = sample();
    b.exth(108, "C1").exth(101, "Old").exth(999, "skipped").exth(106, "2001-02-03").exth(100, "")
        .exth(108, "C2").exth(101, "New").exth(115, Bytes{}).exth(106, "2004");
    Outcome run = analyze(b.build().bytes);
    ASSERT_EQ(run.status, BOOK_OK);
    ASSERT_EQ(run.info.authors.size(), 2u);
    EXPECT_EQ(run.text(run.info.authors[0]), "Author");
    EXPECT_EQ(run.text(run.info.authors[1]), "");
    ASSERT_EQ(run.info.contributors.size(), 2u);
    EXPECT_EQ(run.text(run.info.contributors[0]) + run.text(run.info.contributors[1]), "C1C2");
    EXPECT_TRUE(run.info.has_publisher && run.info.has_published && run.info.is_sample);
    EXPECT_EQ(run.text(run.info.publisher), "New");
    EXPECT_EQ(run.text(run.info.published), "2004");
}

TEST(ContainerTest, CoverChoice)
{
    // Images at records 3 (EXIF, so no signature fallback), 4, 5, 6.
    struct Case {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> exth;  // type, index
        bool prefer_thumbnail;
        std::uint32_t cover;  // record, 0 = none
    };
    const Case cases[] = {
        {{{201, 1}, {201, 2}}, false, 5},
        {{{202, 1}, {202, 2}}, false, 4},
        {{{202, 1}, {201, 2}}, false, 5},
        {{{201, 2}, {202, 1}}, false, 5},
        {{{201, 1}, {202, 2}}, false, 4},
        {{{201, 1}, {202, 2}}, true, 5},
        {{{202, 1}, {202, 2}}, true, 5},
        {{{201, 1}, {201, 2}}, true, 4},
        {{{202, 2}, {201, 1}}, true, 5},
        {{{201, 1}, {202, 99}}, false, 4},        // ignored, so never checked
        {{{202, 1}, {201, 99}}, true, 4},
        {{{201, 0xFFFFFFFD}, {202, 2}}, false, 5},  // 201 resolving to record 0 is no choice
        {{{201, 0xFFFFFFFD}}, false, 0},            // and the fallback finds no JFIF
        {{{201, 0}}, false, 3},
    };
    for (const Case& c : cases) {
        MobiBuilder b;
        b.add_text(100);
        b.add_text(100);
        std::size_t size = 50;  // sizes tell the records apart
        for (auto sig : {&JPEG_EXIF, &JPEG_JFIF, &PNG, &GIF})
            b.add_image(image_bytes(*sig, size += 10));
        for (const auto& e : c.exth)
            b.exth_u32(e.first, e.second);
        b.exth(201, Bytes{0, 0, 0, 99, 0}).exth(202, Bytes{0, 0, 99});  // not 12 bytes long: ignored
        MobiFile f = b.build();
        Outcome run = analyze(f.bytes, c.prefer_thumbnail);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        ASSERT_EQ(run.status, BOOK_OK) << run.seen.condition;
        EXPECT_EQ(run.info.cover_offset, c.cover ? f.offsets[c.cover] : 0);
        EXPECT_EQ(run.info.cover_size, c.cover ? f.record_size(c.cover) : 0);
    }
}

TEST(ContainerTest, FallbackCoverNeedsAKnownSignature)
{
    for (auto sig : {&JPEG_JFIF, &PNG, &GIF, &JPEG_EXIF}) {
        MobiBuilder b;
        b.add_text(10);
        b.add_image(image_bytes(*sig, 40));
        b.add_text(10);
        const MobiFile f = b.build();
        Outcome run = analyze(f.bytes);
        ASSERT_EQ(run.status, BOOK_OK);
        EXPECT_EQ(run.info.cover_size, sig == &JPEG_EXIF ? 0u : 40u);
        ASSERT_EQ(probes(run), 1u);
        EXPECT_EQ(run.reads[3].position, f.offsets[2]);
    }
    // A first image record shorter than a signature is not probed, neither
    // at the end of the file nor before another record.
    for (const bool last : {true, false}) {
        MobiBuilder b;
        b.add_text(10);
        b.add_image({0xFF, 0xD8, 0xFF});
        if (!last)
            b.add_image(image_bytes(JPEG_JFIF, 40));
        Outcome run = analyze(b.build().bytes);
        EXPECT_EQ(run.status, BOOK_OK) << last;
        EXPECT_EQ(probes(run), 0u) << last;
        EXPECT_EQ(run.info.cover_size, 0u) << last;
    }
    // image_record_base 0 means no image records: nothing is probed.
    Outcome run = analyze(make([](MobiBuilder& b) { b.image_record_base = 0; }));
    EXPECT_EQ(probes(run), 0u);
    EXPECT_EQ(run.info.cover_size, 0u);
}

TEST(ContainerTest, SourceArchive)
{
    struct Case {
        const char* what;
        std::function<std::size_t(MobiBuilder&)> add;  // returns the record expected, 0 = none
    };
    const Case cases[] = {
        {"SRCS before the last record", [](MobiBuilder& b) { std::size_t i = b.add_srcs(zip_bytes(40)); b.add_text(1); return i; }},
        {"SRCS of exactly 20 bytes", [](MobiBuilder& b) { std::size_t i = b.add_srcs(zip_bytes(4)); b.add_text(1); return i; }},
        {"SRCS of 19 bytes", [](MobiBuilder& b) { b.add_record(bytes_of("SRCS123456789012PK\3")), b.add_text(1); return 0; }},
        {"SRCS as the last record", [](MobiBuilder& b) { b.add_srcs(zip_bytes(40)); return 0; }},
        {"SRCS without a ZIP", [](MobiBuilder& b) { b.add_srcs(bytes_of("PK\5\6 end of directory")), b.add_text(1); return 0; }},
        {"the highest of two", [](MobiBuilder& b) {
             b.add_srcs(zip_bytes(30));
             std::size_t i = b.add_srcs(zip_bytes(50));
             b.add_text(1);
             return i;
         }},
        {"below first_non_book_record",
         [](MobiBuilder& b) { b.add_srcs(zip_bytes(30)), b.add_text(1), b.first_non_book_record = 3; return 0; }},
        {"first_non_book_record beyond the records",
         [](MobiBuilder& b) { b.add_srcs(zip_bytes(30)), b.add_text(1), b.first_non_book_record = 0xFFFFFFFE; return 0; }},
        // "None": from the first record after the text records (record 1 here).
        {"first_non_book_record none", [](MobiBuilder& b) {
             std::size_t i = b.add_srcs(zip_bytes(30));
             b.add_text(1), b.first_non_book_record = 0xFFFFFFFF;
             return i;
         }},
        {"first_non_book_record none, SRCS among the text records",
         [](MobiBuilder& b) { b.add_srcs(zip_bytes(30)), b.add_text(1), b.first_non_book_record = 0xFFFFFFFF, b.text_records = 2; return 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MobiBuilder b;
        b.add_text(100);
        b.first_non_book_record = 0;  // record 0 is a candidate too
        const std::size_t expected = c.add(b);
        MobiFile f = b.build();
        Outcome run = analyze(f.bytes);
        ASSERT_EQ(run.status, BOOK_OK);
        EXPECT_EQ(run.info.source_offset, expected ? f.offsets[expected] + 16 : 0);
        EXPECT_EQ(run.info.source_size, expected ? f.record_size(expected) - 16 : 0);
    }
}

TEST(ContainerTest, DocumentTypeFollowsTheLast501Record)
{
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"PDOC"}, true}, {{"EBOK"}, false}, {{"PDOC", "EBOK"}, false}, {{"EBOK", "PDOC"}, true},
        {{"PDOCx"}, false}, {{"PDO"}, false}};
    for (const auto& c : cases) {
        MobiBuilder b = sample();
        for (const std::string& v : c.first)
            b.exth(501, v);
        Outcome run = analyze(b.build().bytes);
        ASSERT_EQ(run.status, BOOK_OK);
        EXPECT_TRUE(run.info.has_document_type);
        EXPECT_EQ(run.info.is_personal, c.second) << c.first.back();
    }
}

TEST(ContainerTest, AFailedReaderCallEndsTheAnalysisWithItsStatus)
{
    // The probe and the SRCS candidates 6, 4 and 3 (5 is too short) make every kind of call.
    const Bytes book = make([](MobiBuilder& b) { b.add_text(30), b.add_text(30); });
    MemoryReader complete(book);
    ASSERT_EQ(analyze(complete).status, BOOK_OK);
    // size; seek and header; list; seek and record 0; probe; candidates
    ASSERT_EQ(complete.calls, 1 + 2 + 1 + 2 + 2 + 3 * 2);
    for (int call = 0; call < complete.calls; ++call) {
        MemoryReader reader(book);
        reader.fail_call = call;
        reader.fail_status = static_cast<book_status>(0x80030000u + static_cast<unsigned>(call));
        Outcome run = analyze(reader);
        EXPECT_EQ(run.status, reader.fail_status) << "call " << call;
        EXPECT_EQ(run.seen.failures, 1);
        EXPECT_EQ(run.seen.rejections, 0);
        EXPECT_EQ(run.seen.status, reader.fail_status);
        EXPECT_EQ(run.seen.file, "container.cpp");
        EXPECT_EQ(run.calls, call + 1);  // nothing after the failure
    }
}

TEST(ContainerTest, FourGibibytesAreRejectedWithoutARead)
{
    const Bytes book = sample().build().bytes;
    for (std::uint64_t size : {std::uint64_t(1) << 32, ~std::uint64_t(0)}) {
        MemoryReader reader(book);
        reader.reported_size = size;
        Outcome run = analyze(reader);
        EXPECT_EQ(run.status, BOOK_NOT_MOBI);
        EXPECT_EQ(run.seen.condition, "statstg.cbSize.HighPart == 0");
        EXPECT_EQ(run.calls, 1);
    }
}

TEST(ContainerTest, ReadsOnlyHeaderListRecord0AndProbes)
{
    // Records 1-3 text, 4-5 images, 6 text, 7 some other record, 8 short,
    // 9 the end-of-file marker; no archive, so every candidate is read.
    MobiBuilder b;
    for (int i = 0; i < 3; ++i)
        b.add_text(4096);
    b.add_image(image_bytes(JPEG_JFIF, 5000));
    b.add_image(image_bytes(JPEG_EXIF, 5000));
    b.add_text(2000);
    b.add_record(Bytes(30, 'x'));
    b.add_text(10);
    b.add_record({0xE9, 0x8E, 0x0D, 0x0A});
    b.first_non_book_record = 4;
    for (bool with_cover_record : {false, true}) {
        MobiBuilder c = b;
        if (with_cover_record)
            c.exth_u32(201, 1);
        const MobiFile g = c.build();
        Outcome run = analyze(g.bytes);
        ASSERT_EQ(run.status, BOOK_OK);
        std::vector<std::pair<std::uint64_t, std::uint32_t>> expected = {
            {0, 78}, {78, 10 * 8}, {g.offsets[0], g.record_size(0)}};
        if (!with_cover_record)
            expected.push_back({g.offsets[4], 4});  // probe of image_record_base
        for (std::size_t n : {7, 6, 5, 4})            // candidates of 20 bytes or more
            expected.push_back({g.offsets[n], 20});
        ASSERT_EQ(run.reads.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(run.reads[i].position, expected[i].first) << i;
            EXPECT_EQ(run.reads[i].count, expected[i].second) << i;
        }
        EXPECT_EQ(run.info.cover_offset, g.offsets[with_cover_record ? 5 : 4]);
    }
}
