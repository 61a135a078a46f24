// Builds MOBI files in memory for tests: the PalmDB header, the record list,
// record 0 (PalmDOC header, MOBI header, EXTH block, title) and any records
// after it. Every field can be set to a wrong value, and MobiFile::put*
// patches bytes after building for the corruptions the fields do not cover.
//
//   MobiBuilder b;
//   b.title = "Title";
//   b.exth(100, "An Author");
//   b.exth_u32(201, 0);                      // cover: first image record
//   b.add_text(4096);
//   b.add_image(image_bytes(JPEG_JFIF, 500)); // first image sets image_record_base
//   MobiFile f = b.build();
//   f.put4(MobiFile::entry(1), 0);           // corrupt record 1's start
//
// Portable C++17, header-only; no platform headers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mobi_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes be4(std::uint32_t value)
{
    return {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8),
            std::uint8_t(value)};
}

// First bytes of image records.
constexpr std::uint8_t JPEG_JFIF[4] = {0xFF, 0xD8, 0xFF, 0xE0};
constexpr std::uint8_t JPEG_EXIF[4] = {0xFF, 0xD8, 0xFF, 0xE1};
constexpr std::uint8_t PNG[4] = {0x89, 0x50, 0x4E, 0x47};
constexpr std::uint8_t GIF[4] = {0x47, 0x49, 0x46, 0x38};

// size bytes (at least 4) starting with signature, then a recognisable filler.
inline Bytes image_bytes(const std::uint8_t (&signature)[4], std::size_t size)
{
    Bytes bytes(size < 4 ? 4 : size);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = i < 4 ? signature[i] : std::uint8_t(0xA0 + i % 7);
    return bytes;
}

// size bytes (at least 4) starting with the ZIP local-file signature.
inline Bytes zip_bytes(std::size_t size)
{
    Bytes bytes(size < 4 ? 4 : size, 0x5A);
    bytes[0] = 0x50, bytes[1] = 0x4B, bytes[2] = 0x03, bytes[3] = 0x04;
    return bytes;
}

struct MobiFile {
    Bytes bytes;
    std::vector<std::uint32_t> offsets;  // start of each record, then the file size

    // Position of record i's entry in the record list.
    static constexpr std::size_t entry(std::size_t i) { return 78 + 8 * i; }
    // Position of byte offset of record 0 in the file.
    std::size_t r0(std::size_t offset) const { return offsets.at(0) + offset; }
    std::uint32_t record_size(std::size_t i) const { return offsets.at(i + 1) - offsets.at(i); }

    void put(std::size_t at, const Bytes& value)
    {
        if (bytes.size() < at + value.size())
            bytes.resize(at + value.size());
        for (std::size_t i = 0; i < value.size(); ++i)
            bytes[at + i] = value[i];
    }
    void put(std::size_t at, const std::string& value) { put(at, bytes_of(value)); }
    void put2(std::size_t at, std::uint16_t value) { put(at, Bytes{std::uint8_t(value >> 8), std::uint8_t(value)}); }
    void put4(std::size_t at, std::uint32_t value) { put(at, be4(value)); }
};

class MobiBuilder {
public:
    // PalmDB header.
    std::string name = "Test_Book";          // at most 31 bytes are written
    std::uint32_t creation_time = 0x7B0A1C2D;
    std::string type_creator = "BOOKMOBI";   // first 8 bytes are written
    std::optional<std::uint16_t> record_count;  // default: the records built

    // Record 0: PalmDOC header.
    std::uint16_t compression = 1;
    std::uint16_t reserved = 0;              // offset 2, must be 0
    std::uint16_t encryption = 0;
    // MOBI header.
    std::string mobi_magic = "MOBI";
    std::uint32_t mobi_header_length = 232;
    std::uint32_t text_encoding = 65001;
    std::optional<std::uint32_t> first_non_book_record;  // default: 1 + leading text records
    std::uint32_t locale = 9;
    std::optional<std::uint32_t> image_record_base;      // default: first image, else record count
    std::string title = "Test Book";
    std::optional<std::uint32_t> title_off;  // default: right after the EXTH block, where
                                             // the title is written (not written when set)
    std::optional<std::uint32_t> title_len;  // default: title.size()
    std::optional<std::uint32_t> record0_size;  // pad with zeros (or cut) to this size

    // EXTH block, at 16 + mobi_header_length in record 0.
    bool exth_block = true;
    std::string exth_magic = "EXTH";
    std::optional<std::uint32_t> exth_length;  // header length field; default: the real one
    std::optional<std::uint32_t> exth_count;   // record count field; default: the real one

    // An EXTH record; length is the record's length field (default 8 + value size).
    MobiBuilder& exth(std::uint32_t type, const Bytes& value, std::optional<std::uint32_t> length = {})
    {
        exth_records_.push_back({type, value, length});
        return *this;
    }
    MobiBuilder& exth(std::uint32_t type, const std::string& value, std::optional<std::uint32_t> length = {})
    {
        return exth(type, bytes_of(value), length);
    }
    MobiBuilder& exth_u32(std::uint32_t type, std::uint32_t value) { return exth(type, be4(value)); }

    // Records after record 0; each returns the new record's index.
    std::size_t add_record(const Bytes& bytes)
    {
        records_.push_back(bytes);
        return records_.size();
    }
    std::size_t add_text(std::size_t size)
    {
        if (records_.size() == leading_text_)
            ++leading_text_;
        return add_record(Bytes(size, 'T'));
    }
    std::size_t add_image(const Bytes& bytes)
    {
        const std::size_t index = add_record(bytes);
        if (!first_image_)
            first_image_ = static_cast<std::uint32_t>(index);
        return index;
    }
    // "SRCS", 12 header bytes, then the archive.
    std::size_t add_srcs(const Bytes& archive)
    {
        // Filled in place: a vector insert here trips a false -Warray-bounds
        // of GCC 12 once inlined.
        static const std::uint8_t header[16] = {'S', 'R', 'C', 'S', 0, 0, 0, 0x10,
                                                0,   0,   0,   0x2F, 0, 0, 0, 1};
        Bytes bytes(16 + archive.size(), 0);
        std::copy(header, header + 16, bytes.begin());
        std::copy(archive.begin(), archive.end(), bytes.begin() + 16);
        return add_record(bytes);
    }

    MobiFile build() const
    {
        const std::uint32_t count = static_cast<std::uint32_t>(records_.size() + 1);
        Bytes r0 = record0(count);

        MobiFile f;
        Bytes header(78, 0);
        for (std::size_t i = 0; i < name.size() && i < 31; ++i)
            header[i] = std::uint8_t(name[i]);
        f.bytes = header;
        f.put4(36, creation_time);
        f.put4(40, creation_time);
        f.put(60, type_creator.substr(0, 8));
        f.put2(76, record_count ? *record_count : std::uint16_t(count));

        std::uint32_t at = 78 + 8 * count + 2;  // list, then two bytes of padding
        f.offsets.push_back(at);
        at += static_cast<std::uint32_t>(r0.size());
        for (const Bytes& r : records_) {
            f.offsets.push_back(at);
            at += static_cast<std::uint32_t>(r.size());
        }
        f.offsets.push_back(at);
        for (std::uint32_t i = 0; i < count; ++i) {
            f.put4(MobiFile::entry(i), f.offsets[i]);
            f.put4(MobiFile::entry(i) + 4, 2 * i);
        }
        f.put2(78 + 8 * count, 0);
        f.put(f.offsets[0], r0);
        for (std::size_t i = 0; i < records_.size(); ++i)
            f.put(f.offsets[i + 1], records_[i]);
        f.bytes.resize(at);
        return f;
    }

private:
    struct ExthRecord {
        std::uint32_t type;
        Bytes value;
        std::optional<std::uint32_t> length;
    };

    Bytes record0(std::uint32_t count) const
    {
        MobiFile r;  // used for its put helpers only
        r.bytes.assign(16 + 112, 0);
        r.put2(0, compression);
        r.put2(2, reserved);
        r.put2(8, std::uint16_t(leading_text_));
        r.put2(10, 4096);
        r.put2(12, encryption);
        r.put(16, mobi_magic);
        r.put4(20, mobi_header_length);
        r.put4(24, 2);  // MOBI type: book
        r.put4(28, text_encoding);
        r.put4(80, first_non_book_record ? *first_non_book_record : std::uint32_t(1 + leading_text_));
        r.put4(92, locale);
        r.put4(108, image_record_base ? *image_record_base : first_image_ ? *first_image_ : count);
        if (mobi_header_length >= 116)
            r.put4(128, exth_block ? 0x50 : 0x10);  // EXTH flags; not read by readers of the magic

        // A huge header length puts the block (and the default title) at 64 KiB.
        std::size_t at = std::size_t(std::min<std::uint64_t>(16 + std::uint64_t(mobi_header_length), 0x10000));
        if (r.bytes.size() < at)
            r.bytes.resize(at);
        if (exth_block) {
            Bytes block;
            for (const ExthRecord& e : exth_records_) {
                const Bytes type = be4(e.type);
                const Bytes field = be4(e.length ? *e.length : std::uint32_t(8 + e.value.size()));
                block.insert(block.end(), type.begin(), type.end());
                block.insert(block.end(), field.begin(), field.end());
                block.insert(block.end(), e.value.begin(), e.value.end());
            }
            const std::uint32_t length = std::uint32_t(12 + block.size());
            while (block.size() % 4)
                block.push_back(0);
            r.put(at, exth_magic.substr(0, 4));
            r.put4(at + 4, exth_length ? *exth_length : length);
            r.put4(at + 8, exth_count ? *exth_count : std::uint32_t(exth_records_.size()));
            r.put(at + 12, block);
            at += 12 + block.size();
        }
        const std::size_t off = title_off ? *title_off : at;
        r.put4(84, std::uint32_t(off));
        r.put4(88, title_len ? *title_len : std::uint32_t(title.size()));
        if (!title_off)
            r.put(off, title);
        r.bytes.resize(std::max<std::size_t>(r.bytes.size() + 2, 256));  // padding
        if (record0_size)
            r.bytes.resize(*record0_size);
        return r.bytes;
    }

    std::vector<ExthRecord> exth_records_;
    std::vector<Bytes> records_;  // records 1..n
    std::size_t leading_text_ = 0;
    std::optional<std::uint32_t> first_image_;
};

}  // namespace mobi_test
