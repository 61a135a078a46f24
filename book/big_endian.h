// Big-endian readers for bytes already in memory; every integer of the
// PalmDB and MOBI formats is big-endian.
#pragma once

#include <cstdint>

inline std::uint16_t get2(const std::uint8_t* x)
{
    return static_cast<std::uint16_t>(x[0] * 256u + x[1]);
}

inline std::uint32_t get4(const std::uint8_t* x)
{
    return ((static_cast<std::uint32_t>(x[0]) * 256u + x[1]) * 256u + x[2]) * 256u + x[3];
}
