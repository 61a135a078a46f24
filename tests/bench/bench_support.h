// Helpers the benchmark programs share: a book's bytes as a ByteReader, an
// observer that hears nothing, and reading a whole file.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "book/container.h"

#include <cstdio>

namespace bench {

using Bytes = std::vector<std::uint8_t>;

class MemoryReader final : public ByteReader {
public:
    explicit MemoryReader(const Bytes& bytes) : bytes_(bytes) {}
    book_status size(std::uint64_t& bytes) override { bytes = bytes_.size(); return BOOK_OK; }
    book_status seek(std::uint32_t offset) override { position_ = offset; return BOOK_OK; }
    book_status read(std::uint8_t* buffer, std::uint32_t count) override
    {
        if (position_ > bytes_.size() || count > bytes_.size() - position_)
            return BOOK_E_FAIL;
        if (count != 0)
            std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        return BOOK_OK;
    }

private:
    const Bytes& bytes_;
    std::size_t position_ = 0;
};

struct Quiet final : AnalysisObserver {
    void not_a_mobi(int, const char*) override {}
    void step_failed(const char*, int, book_status) override {}
};

#ifdef _WIN32
// The whole file; empty when it cannot be read.
inline Bytes read_file(const std::wstring& path)
{
    Bytes bytes;
    std::FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    std::uint8_t chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) != 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        bytes.clear();
    return bytes;
}
#endif

}  // namespace bench
