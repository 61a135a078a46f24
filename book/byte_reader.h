// Byte access to a book file, independent of the platform's stream type.
// The Windows book reads through its IStream; native tools and tests read
// from memory. Status values use the HRESULT encoding (negative = failure)
// so that they pass through the Windows side unchanged.
#pragma once

#include <cstdint>

using book_status = std::int32_t;

constexpr book_status BOOK_OK = 0;                                           // S_OK
constexpr book_status BOOK_NOT_MOBI = 1;                                     // S_FALSE
constexpr book_status BOOK_E_FAIL = static_cast<book_status>(0x80004005u);   // E_FAIL
constexpr book_status BOOK_E_OUTOFMEMORY = static_cast<book_status>(0x8007000Eu);
constexpr book_status BOOK_E_UNEXPECTED = static_cast<book_status>(0x8000FFFFu);

class ByteReader {
public:
    // Total size of the file in bytes.
    virtual book_status size(std::uint64_t& bytes) = 0;
    // Moves the read position to an absolute offset.
    virtual book_status seek(std::uint32_t offset) = 0;
    // Reads exactly count bytes at the current position; fewer is a failure.
    virtual book_status read(std::uint8_t* buffer, std::uint32_t count) = 0;

protected:
    ~ByteReader() = default;
};
