// Test doubles for the container analysis: a ByteReader over bytes in memory
// that records its calls and can fail one of them, an observer that records
// what it is told, and the invariants every accepted analysis must meet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "book/container.h"

struct ReadCall {
    std::uint64_t position;
    std::uint32_t count;
};

class MemoryReader final : public ByteReader {
public:
    MemoryReader(const std::uint8_t* bytes, std::size_t size)
        : reported_size(size), bytes_(bytes), size_(size) {}
    explicit MemoryReader(const std::vector<std::uint8_t>& bytes)
        : MemoryReader(bytes.data(), bytes.size()) {}
    explicit MemoryReader(std::vector<std::uint8_t>&&) = delete;  // would dangle

    std::uint64_t reported_size;          // what size() answers
    int fail_call = -1;                   // 0-based index over all calls; -1 = none fails
    book_status fail_status = BOOK_E_FAIL;
    int calls = 0;
    std::vector<ReadCall> reads;          // every read asked for, failed or not

    book_status size(std::uint64_t& bytes) override
    {
        if (fails())
            return fail_status;
        bytes = reported_size;
        return BOOK_OK;
    }
    book_status seek(std::uint32_t offset) override
    {
        if (fails())
            return fail_status;
        position_ = offset;
        return BOOK_OK;
    }
    book_status read(std::uint8_t* buffer, std::uint32_t count) override
    {
        reads.push_back({position_, count});
        if (fails())
            return fail_status;
        if (position_ > size_ || count > size_ - position_)
            return BOOK_E_FAIL;  // short read
        if (count != 0)
            std::memcpy(buffer, bytes_ + position_, count);
        position_ += count;
        return BOOK_OK;
    }

private:
    bool fails() { return calls++ == fail_call; }

    const std::uint8_t* bytes_;
    std::size_t size_;
    std::uint64_t position_ = 0;
};

struct RecordingObserver final : AnalysisObserver {
    int rejections = 0;
    int failures = 0;
    int line = 0;
    std::string condition;
    std::string file;
    book_status status = BOOK_OK;

    void not_a_mobi(int at, const char* text) override
    {
        ++rejections;
        line = at;
        condition = text;
    }
    void step_failed(const char* source, int at, book_status result) override
    {
        ++failures;
        file = source;
        line = at;
        status = result;
    }
};

// What an accepted analysis of a file of file_size bytes guarantees its
// caller. Returns an empty string or the first broken promise.
inline std::string broken_invariant(const ContainerInfo& info, std::uint64_t file_size)
{
    const std::uint64_t r0 = info.record0.size();
    auto inside = [r0](const ByteSpan& s) { return std::uint64_t(s.offset) + s.size <= r0; };
    if (r0 < 256 || r0 > MAX_RECORD_SIZE)
        return "record 0 size";
    if (info.record_count < 2 ||
        (info.image_record_base != NO_RECORD && info.image_record_base > info.record_count))
        return "record count";
    if (!inside(info.title) || !inside(info.publisher) || !inside(info.published))
        return "title or publisher or published span";
    for (const auto* list : {&info.authors, &info.contributors})
        for (const ByteSpan& s : *list)
            if (!inside(s))
                return "author or contributor span";
    if (std::uint64_t(info.cover_offset) + info.cover_size > file_size ||
        (info.cover_size != 0 && info.cover_offset == 0))
        return "cover";
    if (std::uint64_t(info.source_offset) + info.source_size > file_size ||
        (info.source_offset != 0 && info.source_offset < 16 + 78 + 16) ||
        (info.source_size != 0 && info.source_size < 4))
        return "source";
    return {};
}

// A broken promise in a fuzz target: says which and aborts, so that
// libFuzzer keeps the input.
inline void fuzz_check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}
