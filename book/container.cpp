// Reads and checks a MOBI container: the PalmDB header and record list,
// record 0 (PalmDOC header, MOBI header, EXTH block), the cover image record
// and the SRCS source archive record. Only the header, the record list,
// record 0, 4 bytes of one image record and 20 bytes of each source archive
// candidate are read.
//
// Positions inside record 0 are 64-bit offsets, so no sum below can wrap and
// no pointer is formed outside the bytes that were read. Each check is
// written so that its source text is the condition reported for it.
#include "container.h"

#include <cstring>

#include "big_endian.h"

using std::memcmp;

namespace {

// The working buffer: the header, then the record list, then record 0.
// `data + n` is the address of byte n; it is only formed for n within the
// bytes read, which the checks before each use guarantee.
class Buffer {
public:
    explicit Buffer(std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    const std::uint8_t* operator+(std::uint64_t offset) const { return bytes_.data() + offset; }
    std::uint64_t size() const { return bytes_.size(); }
    book_status read(ByteReader& reader, std::uint32_t count)
    {
        bytes_.assign(count, 0);
        return reader.read(bytes_.data(), count);
    }

private:
    std::vector<std::uint8_t>& bytes_;
};

// First bytes of the image formats taken as a cover when the EXTH block
// names none: GIF, PNG, and JPEG with a JFIF segment first.
bool is_image_signature(const std::uint8_t* x)
{
    static const std::uint8_t signatures[3][4] = {
        {0x47, 0x49, 0x46, 0x38}, {0x89, 0x50, 0x4E, 0x47}, {0xFF, 0xD8, 0xFF, 0xE0}};
    for (const auto& signature : signatures)
        if (0 == memcmp(x, signature, 4))
            return true;
    return false;
}

constexpr std::uint8_t ZIP_SIGNATURE[4] = {0x50, 0x4B, 0x03, 0x04};

}  // namespace

#define REJECT_UNLESS_TEXT(condition, text)        \
    do {                                           \
        if (!(condition)) {                        \
            observer.not_a_mobi(__LINE__, text);   \
            return BOOK_NOT_MOBI;                  \
        }                                          \
    } while (0)
#define REJECT_UNLESS(condition) REJECT_UNLESS_TEXT(condition, #condition)

#define READ_STEP(call)                                                   \
    do {                                                                  \
        const book_status step_status = (call);                           \
        if (step_status < 0) {                                            \
            observer.step_failed(__FILE_NAME__, __LINE__, step_status);   \
            return step_status;                                           \
        }                                                                 \
    } while (0)

book_status analyze_container(ByteReader& reader, bool prefer_thumbnail,
                              AnalysisObserver& observer, ContainerInfo& info)
{
    info = ContainerInfo{};
    Buffer data(info.record0);

    // PalmDB header.
    std::uint64_t stream_size = 0;
    READ_STEP(reader.size(stream_size));
    REJECT_UNLESS_TEXT(stream_size >> 32 == 0, "statstg.cbSize.HighPart == 0");
    const std::uint64_t file_size = stream_size;
    REJECT_UNLESS(file_size >= 78);
    READ_STEP(reader.seek(0));
    READ_STEP(data.read(reader, 78));
    info.creation_time = get4(data + 36);
    REJECT_UNLESS(0 == memcmp(data + 60, "BOOKMOBI", 8));
    const std::uint32_t record_count = get2(data + 76);
    info.record_count = record_count;
    REJECT_UNLESS(record_count >= 2);
    REJECT_UNLESS(file_size >= 78 + record_count * 8);

    // Record list: the start of every record, then the end of the file.
    READ_STEP(data.read(reader, record_count * 8));
    std::vector<std::uint32_t> records(record_count + 1);
    for (std::uint32_t i = 0; i < record_count; ++i)
        records[i] = get4(data + i * 8);
    records[record_count] = static_cast<std::uint32_t>(file_size);
    REJECT_UNLESS(records[0] >= 78 + record_count * 8);
    for (std::uint32_t n = 1; n <= record_count; ++n)
        REJECT_UNLESS(records[n - 1] <= records[n]);

    // Record 0: PalmDOC header, MOBI header.
    const std::uint32_t record_size = records[1] - records[0];
    REJECT_UNLESS(record_size >= 256 && record_size <= MAX_RECORD_SIZE);
    READ_STEP(reader.seek(records[0]));
    READ_STEP(data.read(reader, record_size));
    REJECT_UNLESS(get2(data + 2) == 0);
    info.is_encrypted = get2(data + 12) != 0;
    REJECT_UNLESS(memcmp(data + 16, "MOBI", 4) == 0);
    const std::uint64_t mobi_header_length = get4(data + 20);
    REJECT_UNLESS(mobi_header_length >= 128 && mobi_header_length <= data.size() - 16);
    info.text_encoding = get4(data + 28);
    info.file_size = static_cast<std::uint32_t>(file_size);
    info.compression = get2(data + 0);
    info.text_length = get4(data + 4);
    info.text_records = get2(data + 8);
    info.text_record_size = get2(data + 10);
    info.format_version = get4(data + 36);
    info.huff_record = get4(data + 112);
    info.huff_count = get4(data + 116);
    if (mobi_header_length >= 196 + 4 - 16 && info.format_version >= 8) {
        info.fdst_record = get4(data + 192);
        info.fdst_count = get4(data + 196);
    }
    if (mobi_header_length >= 242 + 2 - 16)
        info.extra_flags = get2(data + 242);
    info.first_non_book_record = get4(data + 80);
    const std::uint64_t title_off = get4(data + 84);
    const std::uint64_t title_len = get4(data + 88);
    REJECT_UNLESS(title_off >= mobi_header_length + 16 && title_off + title_len <= data.size());
    info.title = {static_cast<std::uint32_t>(title_off), static_cast<std::uint32_t>(title_len)};
    info.locale = get4(data + 92);
    // A book without images holds the format's "no such record" value here.
    const std::uint32_t image_record_base = get4(data + 108);
    info.image_record_base = image_record_base;
    const bool has_images = image_record_base != NO_RECORD;
    REJECT_UNLESS_TEXT(!has_images || image_record_base <= record_count,
                       "image_record_base <= record_count");

    // EXTH block, recognised by its magic alone. Record 0 is at most
    // MAX_RECORD_SIZE bytes, so every offset inside it fits 32 bits.
    std::uint32_t cover_image = 0;  // 0 = no cover chosen
    bool start_seen = false;        // the first EXTH 116 decides
    const std::uint64_t exth = 16 + mobi_header_length;
    if (exth + 12 < data.size() && 0 == memcmp(data + exth, "EXTH", 4)) {
        info.has_exth = true;
        const std::uint64_t exth_header_length = get4(data + exth + 4);
        REJECT_UNLESS_TEXT(exth_header_length >= 8 && exth_header_length <= data.size() - exth,
                           "exth_header_length >= 8 && exth_header_length <= data.size() - (exth - data)");
        std::uint32_t exth_record_count = get4(data + exth + 8);
        const std::uint32_t preferred = prefer_thumbnail ? 202 : 201;
        for (std::uint64_t p = exth + 12; exth_record_count != 0; --exth_record_count) {
            REJECT_UNLESS(p + 8 <= exth + exth_header_length);
            const std::uint32_t type = get4(data + p);
            const std::uint64_t length = get4(data + p + 4);
            REJECT_UNLESS(length >= 8 && p + length <= exth + exth_header_length);
            const ByteSpan value{static_cast<std::uint32_t>(p + 8), static_cast<std::uint32_t>(length - 8)};
            switch (type) {
            case 100: info.authors.push_back(value); break;
            case 101: info.has_publisher = true; info.publisher = value; break;
            case 103: info.has_description = true; info.description = value; break;
            case 106: info.has_published = true; info.published = value; break;
            case 108: info.contributors.push_back(value); break;
            case 524: info.has_language = true; info.language = value; break;
            case 115: info.is_sample = true; break;
            case 116:
                if (length >= 12 && !start_seen) {
                    start_seen = true;
                    info.start_offset = get4(data + value.offset);
                    info.has_start_offset = info.start_offset != NO_RECORD;
                }
                break;
            case 201:
            case 202:
                // Without image records an index names no cover.
                if (length == 12 && has_images && (cover_image == 0 || type == preferred)) {
                    cover_image = get4(data + value.offset) + image_record_base;
                    REJECT_UNLESS(cover_image < record_count);
                }
                break;
            case 501:
                info.has_document_type = true;
                info.is_personal = length == 12 && 0 == memcmp(data + value.offset, "PDOC", 4);
                break;
            default: break;
            }
            p += length;
        }
    }

    // Cover: the chosen EXTH record, else the first image record when it
    // starts like an image. A record shorter than a signature holds no image;
    // probing it would read past its end.
    if (cover_image == 0 && image_record_base != 0 && image_record_base < record_count &&
        records[image_record_base + 1] - records[image_record_base] >= 4) {
        std::uint8_t signature[4];
        READ_STEP(reader.seek(records[image_record_base]));
        READ_STEP(reader.read(signature, sizeof signature));
        if (is_image_signature(signature))
            cover_image = image_record_base;
    }
    if (cover_image != 0) {
        info.cover_offset = records[cover_image];
        info.cover_size = records[cover_image + 1] - records[cover_image];
    }

    // Source archive: the highest record from first_non_book_record up,
    // short of the last record, that starts with "SRCS" and holds a ZIP
    // archive from byte 16 on. kindlegen writes the format's "none" there in
    // some books that carry one: the scan then starts after the text records.
    const std::int64_t lowest = info.first_non_book_record == NO_RECORD
                                    ? std::int64_t(get2(data + 8)) + 1
                                    : std::int64_t(info.first_non_book_record);
    for (std::int64_t n = static_cast<std::int64_t>(record_count) - 2; n >= 0 && n >= lowest; --n) {
        const std::uint32_t start = records[static_cast<std::size_t>(n)];
        const std::uint32_t end = records[static_cast<std::size_t>(n) + 1];
        if (end - start < 20)
            continue;
        std::uint8_t head[20];
        READ_STEP(reader.seek(start));
        READ_STEP(reader.read(head, sizeof head));
        if (0 == memcmp(head, "SRCS", 4) && 0 == memcmp(head + 16, ZIP_SIGNATURE, 4)) {
            info.source_offset = start + 16;
            info.source_size = end - info.source_offset;
            break;
        }
    }
    return BOOK_OK;
}
