// Conversions of a book's metadata bytes to text: code-page decoding,
// language names, and the two date forms (PalmDB seconds and the free-form
// EXTH publishing date). Language names and dates come from the user's
// locale settings.
#include "book/metadata.h"

#include <climits>
#include <cwchar>
#include <utility>

#include "server/ui_language.h"

const wchar_t creator_separator[] = L"; ";

namespace {

// Text up to its first terminating null.
void cut_at_null(std::wstring& text)
{
    text.resize(std::wcslen(text.c_str()));
}

// Long date of date for the user's default locale; false when the date
// cannot be formatted (for instance a month or day of 0). With exact, the
// second call must return the length the first one asked for.
bool long_date(const SYSTEMTIME& date, bool exact, std::wstring& text)
{
    const int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &date, nullptr, nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring buffer(static_cast<std::size_t>(n), L'\0');
    const int written = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &date, nullptr, &buffer[0], n);
    if (exact ? written != n : written <= 0)
        return false;
    cut_at_null(buffer);
    text.swap(buffer);
    return true;
}

}  // namespace

std::wstring decode_text(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t code_page)
{
    if (count == 0 || count > static_cast<std::uint32_t>(INT_MAX))
        return {};
    const char* text = reinterpret_cast<const char*>(bytes);
    const int length = static_cast<int>(count);
    const int n = MultiByteToWideChar(code_page, 0, text, length, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(code_page, 0, text, length, &result[0], n) != n)
        return {};
    return result;
}

bool written_right_to_left(std::uint32_t locale, const std::uint8_t* tag, std::uint32_t tag_size)
{
    std::string language;
    for (std::uint32_t i = 0; i < tag_size && tag[i] != '-' && tag[i] != '_' && tag[i] != 0; ++i)
        language += char(tag[i] >= 'A' && tag[i] <= 'Z' ? tag[i] - 'A' + 'a' : tag[i]);
    if (language.empty())
        return is_right_to_left_language(LANGIDFROMLCID(locale));
    for (const char* right_to_left : {"ar", "he", "iw", "fa", "ur", "ps", "sd", "ug", "dv", "syr", "yi", "ckb"})
        if (language == right_to_left)
            return true;
    return false;
}

std::wstring language_name(std::uint32_t locale)
{
    if (locale == 0)
        return {};
    const int n = GetLocaleInfoW(locale, LOCALE_SLANGUAGE, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring name(static_cast<std::size_t>(n), L'\0');
    if (GetLocaleInfoW(locale, LOCALE_SLANGUAGE, &name[0], n) != n)
        return {};
    cut_at_null(name);
    return name;
}

std::wstring format_creation_date(std::uint32_t seconds)
{
    // Values with the top bit set count from the PalmDB epoch, 1904-01-01;
    // the others from 1970-01-01 (as some converters write them).
    const std::uint64_t epoch = (seconds & 0x80000000u) ? 0x0153B281E0FB4000ull   // 1904-01-01
                                                        : 0x019DB1DED53E8000ull;  // 1970-01-01
    const std::uint64_t ticks = epoch + std::uint64_t{seconds} * 10000000ull;
    FILETIME file_time;
    file_time.dwLowDateTime = static_cast<DWORD>(ticks);
    file_time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME date;
    if (!FileTimeToSystemTime(&file_time, &date))
        return {};
    std::wstring text;
    long_date(date, false, text);
    return text;
}

std::wstring parse_exth_date(const std::uint8_t* bytes, std::uint32_t count)
{
    std::wstring formatted;
    exth_date(bytes, count, formatted);
    return formatted;
}

bool exth_date(const std::uint8_t* bytes, std::uint32_t count, std::wstring& formatted)
{
    // The space closes a number that runs to the end of the text.
    std::wstring text = decode_text(bytes, count, CP_UTF8);
    text += L' ';

    // Numbers are read into the slots year, month, day. Before the year is
    // known, a group of one or two digits is stored in the next slot and a
    // group of three or four digits is the year, put in front of what was
    // read before it. After the year, groups have at most two digits.
    enum State { A0, A1, A2, A3, B0, B1 };
    std::uint16_t slots[3] = {0, 0, 0};  // Y, M, D
    unsigned filled = 0;
    std::uint16_t accumulator = 0;
    State state = A0;

    auto store = [&] {
        slots[filled++] = accumulator;
        accumulator = 0;
    };
    auto put_first = [&] {
        slots[2] = slots[1];
        slots[1] = slots[0];
        slots[0] = accumulator;
        ++filled;
        accumulator = 0;
    };

    for (std::size_t i = 0; i < text.size() && filled < 3; ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        const std::uint16_t d = digit ? static_cast<std::uint16_t>(text[i] - L'0') : 0;
        const std::uint16_t next = static_cast<std::uint16_t>(accumulator * 10 + d);
        switch (state) {
        case A0:
            if (digit) {
                accumulator = d;
                state = A1;
            }
            break;
        case A1:
        case A2:
            if (digit) {
                accumulator = next;
                state = state == A1 ? A2 : A3;
            } else {
                store();
                state = A0;
            }
            break;
        case A3:
            if (digit)
                accumulator = next;
            put_first();
            state = B0;
            break;
        case B0:
            if (digit) {
                accumulator = d;
                state = B1;
            }
            break;
        case B1:
            if (digit)
                accumulator = next;
            store();
            state = B0;
            break;
        }
    }

    std::uint16_t year = slots[0], month = slots[1], day = slots[2];
    if (month > 12 && day <= 12)
        std::swap(month, day);

    SYSTEMTIME date = {};
    date.wYear = year;
    date.wMonth = month;
    date.wDay = day;
    if (long_date(date, true, formatted))
        return true;
    formatted = text;
    return false;
}

std::wstring join_creators(const std::vector<std::wstring>& authors,
                           const std::vector<std::wstring>& contributors)
{
    std::wstring creator;
    for (const std::vector<std::wstring>* names : {&authors, &contributors})
        for (const std::wstring& name : *names) {
            creator += name;
            creator += creator_separator;
        }
    if (!creator.empty())
        creator.resize(creator.size() - std::wcslen(creator_separator));
    return creator;
}
