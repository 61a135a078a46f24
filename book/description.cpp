#include "book/description.h"

#include <cstring>

#include "book/big_endian.h"
#include "book/markup.h"

bool find_exth_value(const std::vector<std::uint8_t>& record0, std::uint32_t type,
                     ByteSpan& value)
{
    const std::uint64_t size = record0.size();
    const std::uint8_t* data = record0.data();
    if (size < 24)
        return false;
    const std::uint64_t exth = 16 + std::uint64_t(get4(data + 20));
    if (exth + 12 > size || std::memcmp(data + exth, "EXTH", 4) != 0)
        return false;
    const std::uint64_t length = get4(data + exth + 4);
    if (length < 12 || length > size - exth)
        return false;
    const std::uint64_t end = exth + length;
    bool found = false;
    std::uint32_t count = get4(data + exth + 8);
    for (std::uint64_t p = exth + 12; count != 0 && p + 8 <= end; --count) {
        const std::uint64_t record_length = get4(data + p + 4);
        if (record_length < 8 || record_length > end - p)
            break;
        if (get4(data + p) == type) {
            value = {std::uint32_t(p + 8), std::uint32_t(record_length - 8)};
            found = true;
        }
        p += record_length;
    }
    return found;
}

bool description_text(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t code_page,
                      std::u16string& text)
{
    text.clear();
    if (code_page != 1252 && code_page != 65001)
        return false;
    MarkupText markup(code_page == 65001);
    markup.feed(bytes, count, text);
    markup.finish(text);
    return true;
}
