// Text conversions of the metadata, under the en-US user locale of the test
// prefix.
#include "book_test_support.h"

#include "book/metadata.h"
#include "tests/support/mobi_builder.h"

namespace {

std::wstring date_of(const std::string& text)
{
    return parse_exth_date(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<std::uint32_t>(text.size()));
}

std::wstring decoded(const Bytes& bytes, std::uint32_t code_page)
{
    return decode_text(bytes.data(), static_cast<std::uint32_t>(bytes.size()), code_page);
}

TEST(ParseExthDate, ReadsYearMonthDayInTheirUsualOrders)
{
    const struct {
        const char* text;
        const wchar_t* date;
    } cases[] = {
        {"2010-05-03T00:00:00+00:00", L"Monday, May 3, 2010"},
        {"5/3/2010", L"Monday, May 3, 2010"},         // month first when both can be months
        {"13/5/2010", L"Thursday, May 13, 2010"},     // 13 cannot be a month
        {"20100503", L"Monday, May 3, 2010"},         // a fourth digit ends the year
        {"2010-5-3", L"Monday, May 3, 2010"},         // the last number runs to the end
        {"1905-01-01T00:00:00+00:00", L"Sunday, January 1, 1905"},
        {"2010", L"2010 "},                           // no month or day: the text itself
        {"05/03/10", L"05/03/10 "},                   // year 5 cannot be formatted
        {"2010-02-30", L"2010-02-30 "},               // no such day
        {"", L" "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.date, date_of(c.text)) << c.text;
}

TEST(ParseExthDate, IsAlwaysUtf8)
{
    // C3 A9 comes back as one character; no month or day, so the text itself.
    EXPECT_EQ(L"\u00e9 2010 ", date_of("\xC3\xA9 2010"));
}

TEST(FormatCreationDate, ChoosesTheEpochByTheTopBit)
{
    EXPECT_EQ(L"Wednesday, January 19, 1972", format_creation_date(0x80000000u));  // 1904 + 2^31 s
    EXPECT_EQ(L"Tuesday, January 19, 2038", format_creation_date(0x7FFFFFFFu));    // 1970 + 2^31 - 1 s
    EXPECT_EQ(L"Monday, February 6, 2040", format_creation_date(0xFFFFFFFFu));
}

class CreationTime : public BookTest {};

TEST_F(CreationTime, ZeroLeavesTheDateEmpty)
{
    mobi_test::MobiBuilder builder;
    builder.creation_time = 0;
    builder.add_text(100);
    ComPtr<TestStream> stream = TestStream::over(builder.build().bytes);
    ComPtr<MobiBook> book = book_on(stream.Get());
    ASSERT_TRUE(book->is_valid());
    EXPECT_EQ(L"", book->created_date);
}

TEST(DecodeText, UsesTheBooksCodePage)
{
    EXPECT_EQ(L"caf\u00e9", decoded({'c', 'a', 'f', 0xE9}, 1252));
    EXPECT_EQ(L"caf\u00e9", decoded({'c', 'a', 'f', 0xC3, 0xA9}, 65001));
    EXPECT_EQ(std::wstring(L"a\0b ", 4), decoded({'a', 0, 'b', ' '}, 65001));  // nothing trimmed
    EXPECT_EQ(L"", decoded({}, 65001));
    EXPECT_EQ(L"", decoded({'a', 'b'}, 12345));  // no such code page
}

TEST(LanguageName, NamesKnownLocalesOnly)
{
    EXPECT_EQ(L"English (United States)", language_name(1033));
    EXPECT_EQ(L"", language_name(0));
    EXPECT_EQ(L"", language_name(0x7C7C));
}

TEST(JoinCreators, AuthorsThenContributorsSeparatedBySemicolons)
{
    EXPECT_EQ(L"A; B; C", join_creators({L"A", L"B"}, {L"C"}));
    EXPECT_EQ(L"C", join_creators({}, {L"C"}));
    EXPECT_EQ(L"", join_creators({}, {}));
    EXPECT_EQ(L"; ", join_creators({L"", L""}, {}));  // empty names still count
    EXPECT_STREQ(L"; ", creator_separator);
}

}  // namespace
