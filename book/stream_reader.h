// The bytes of a book as a ByteReader over the book's IStream.
#pragma once

#include <windows.h>
#include <objidl.h>

#include "book/byte_reader.h"

class StreamReader final : public ByteReader {
public:
    // stream must outlive the reader; no reference is taken.
    explicit StreamReader(IStream* stream) : stream_(stream) {}

    // IStream::Stat (without the name): the stream's full 64-bit size.
    book_status size(std::uint64_t& bytes) override;
    // IStream::Seek from the start.
    book_status seek(std::uint32_t offset) override;
    // IStream_Read: exactly count bytes, a short read is a failure.
    book_status read(std::uint8_t* buffer, std::uint32_t count) override;

private:
    IStream* stream_;
};
