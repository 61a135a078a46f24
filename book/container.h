// Structure of a MOBI container: the PalmDB header, the record list,
// record 0 (PalmDOC and MOBI headers, EXTH block), the cover image record
// and the embedded source archive. Platform-independent; text conversion
// of the metadata happens on the caller's side.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_reader.h"

constexpr std::uint32_t MAX_RECORD_SIZE = 64000;
// A record index that names no record (a book without images has it as its
// first image index).
constexpr std::uint32_t NO_RECORD = 0xFFFFFFFF;

// Receives the reasons an analysis stopped. Both are called at most once
// per analysis.
class AnalysisObserver {
public:
    // A structural check failed: the file is not a MOBI book we accept.
    // condition is the source text of the failed check.
    virtual void not_a_mobi(int line, const char* condition) = 0;
    // A read step failed with status (file is the source file's base name).
    virtual void step_failed(const char* file, int line, book_status status) = 0;

protected:
    ~AnalysisObserver() = default;
};

// A byte range inside record 0.
struct ByteSpan {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
};

struct ContainerInfo {
    std::uint32_t creation_time = 0;   // PalmDB seconds; 0 = none
    std::uint32_t record_count = 0;
    std::uint32_t text_encoding = 0;   // Windows code page of the texts
    std::uint32_t locale = 0;          // LCID
    std::uint32_t image_record_base = 0;
    std::uint32_t first_non_book_record = 0;

    std::vector<std::uint8_t> record0; // the bytes the spans point into
    ByteSpan title;
    bool has_exth = false;              // an EXTH block was found and walked
    std::vector<ByteSpan> authors;      // EXTH 100, file order
    std::vector<ByteSpan> contributors; // EXTH 108, file order
    bool has_publisher = false;         // EXTH 101, last one wins
    ByteSpan publisher;
    bool has_published = false;         // EXTH 106, last one wins
    ByteSpan published;
    bool has_description = false;       // EXTH 103, last one wins
    ByteSpan description;
    bool has_language = false;          // EXTH 524 (a language tag), last one wins
    ByteSpan language;

    bool is_sample = false;
    bool has_document_type = false;     // an EXTH 501 record was met
    bool is_personal = false;           // the last 501 record is "PDOC"
    bool is_encrypted = false;

    std::uint32_t cover_offset = 0;     // 0/0 = no cover
    std::uint32_t cover_size = 0;
    std::uint32_t source_offset = 0;    // ZIP bytes inside the SRCS record; 0/0 = none
    std::uint32_t source_size = 0;

    // What the text reader reads the text by (the PalmDOC and MOBI headers).
    std::uint32_t file_size = 0;
    std::uint16_t compression = 0;      // 1 none, 2 PalmDOC, 17480 HUFF/CDIC
    std::uint32_t text_length = 0;      // bytes of decompressed text
    std::uint16_t text_records = 0;     // records 1 to text_records
    std::uint16_t text_record_size = 0; // a text record's decompressed size
    std::uint32_t format_version = 0;
    std::uint16_t extra_flags = 0;      // trailing entries of the text records
    std::uint32_t huff_record = NO_RECORD;  // HUFF, then CDIC records
    std::uint32_t huff_count = 0;
    std::uint32_t fdst_record = NO_RECORD;  // the flow table (format 8)
    std::uint32_t fdst_count = 0;
    bool has_start_offset = false;      // EXTH 116: where reading starts, a
    std::uint32_t start_offset = 0;     // byte offset into the text
};

// Reads and checks the container through reader. info is reset first and
// describes this analysis only. Returns BOOK_OK with info filled,
// BOOK_NOT_MOBI (after observer.not_a_mobi) for a file we reject, or the
// reader's failure status (after observer.step_failed). Allocation failures
// propagate as std::bad_alloc.
book_status analyze_container(ByteReader& reader, bool prefer_thumbnail,
                              AnalysisObserver& observer, ContainerInfo& info);
