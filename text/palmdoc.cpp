// PalmDOC LZ77: each byte of the input is
//   0x00, 0x09-0x7F  itself;
//   0x01-0x08        that many bytes that follow, copied as they are;
//   0x80-0xBF        with the next byte, a back reference: 11 bits of
//                    distance, 3 bits of length - 3;
//   0xC0-0xFF        a space, then the byte xor 0x80.
#include "palmdoc.h"

bool palmdoc_decompress(const std::uint8_t* in, std::size_t size, std::size_t limit,
                        std::vector<std::uint8_t>& out)
{
    // Sized once to the limit and cut back at the end, so that the loop
    // writes through a pointer with one bound check per step.
    out.resize(limit);
    std::uint8_t* const base = out.data();
    std::size_t n = 0;
    std::size_t i = 0;
    bool ok = true;
    while (i < size) {
        const std::uint8_t c = in[i++];
        if (c == 0 || (c >= 0x09 && c <= 0x7F)) {
            if (n == limit) { ok = false; break; }
            base[n++] = c;
        } else if (c <= 0x08) {
            if (c > size - i || c > limit - n) { ok = false; break; }
            for (std::uint8_t k = 0; k < c; ++k)
                base[n++] = in[i++];
        } else if (c <= 0xBF) {
            if (i == size) { ok = false; break; }
            const unsigned pair = unsigned(c) << 8 | in[i++];
            const std::size_t distance = (pair >> 3) & 0x7FF;
            const std::size_t length = (pair & 7) + 3;
            if (distance == 0 || distance > n || length > limit - n) { ok = false; break; }
            // Byte by byte: the source may overlap what is being written.
            for (std::size_t k = 0; k < length; ++k, ++n)
                base[n] = base[n - distance];
        } else {
            if (limit - n < 2) { ok = false; break; }
            base[n++] = ' ';
            base[n++] = c ^ 0x80;
        }
    }
    out.resize(n);
    return ok;
}
