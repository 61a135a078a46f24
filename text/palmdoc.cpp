// PalmDOC LZ77: each byte of the input is
//   0x00, 0x09-0x7F  itself;
//   0x01-0x08        that many bytes that follow, copied as they are;
//   0x80-0xBF        with the next byte, a back reference: 11 bits of
//                    distance, 3 bits of length - 3;
//   0xC0-0xFF        a space, then the byte xor 0x80.
#include "palmdoc.h"

#include <cstring>

bool palmdoc_decompress(const std::uint8_t* in, std::size_t size, std::uint8_t* out, std::size_t limit,
                        std::size_t& produced)
{
    std::size_t n = 0;
    std::size_t i = 0;
    bool ok = true;
    while (i < size) {
        const std::uint8_t c = in[i];
        if (c >= 0x09 && c <= 0x7F) {
            // A run of literal bytes, the commonest case, copied in one go.
            std::size_t end = i + 1;
            while (end < size && in[end] >= 0x09 && in[end] <= 0x7F)
                ++end;
            const std::size_t run = end - i;
            if (run > limit - n) { ok = false; break; }
            std::memcpy(out + n, in + i, run);
            n += run;
            i = end;
            continue;
        }
        ++i;
        if (c == 0) {
            if (n == limit) { ok = false; break; }
            out[n++] = c;
        } else if (c <= 0x08) {
            if (c > size - i || c > limit - n) { ok = false; break; }
            std::memcpy(out + n, in + i, c);
            n += c;
            i += c;
        } else if (c <= 0xBF) {
            if (i == size) { ok = false; break; }
            const unsigned pair = unsigned(c) << 8 | in[i++];
            const std::size_t distance = (pair >> 3) & 0x7FF;
            const std::size_t length = (pair & 7) + 3;
            if (distance == 0 || distance > n || length > limit - n) { ok = false; break; }
            if (distance >= length) {
                // The bytes copied are all written already; what the 16
                // bytes bring past length is written over later.
                std::uint64_t a, b;
                std::memcpy(&a, out + n - distance, 8);
                std::memcpy(&b, out + n - distance + 8, 8);
                std::memcpy(out + n, &a, 8);
                std::memcpy(out + n + 8, &b, 8);
                n += length;
            } else {
                // The source overlaps what is being written: byte by byte.
                for (std::size_t k = 0; k < length; ++k, ++n)
                    out[n] = out[n - distance];
            }
        } else {
            if (limit - n < 2) { ok = false; break; }
            out[n++] = ' ';
            out[n++] = c ^ 0x80;
        }
    }
    produced = n;
    return ok;
}
