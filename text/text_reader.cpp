// The plain text of a book, one text record at a time; see text_reader.h.
//
// The record list is read a window of entries at a time, so memory does
// not grow with the book: the reader holds one record's bytes, its
// decompressed bytes, the markup state, and for HUFF/CDIC books the
// dictionary (at most MAX_DICTIONARY bytes, with no bookkeeping per entry)
// with the expansions of its compressed entries kept within a fixed budget.
//
// Record 0 (PalmDOC header, then MOBI header), offsets from its start:
//   0 compression (1 none, 2 PalmDOC, 17480 HUFF/CDIC), 4 text length,
//   8 text record count, 10 text record size, 12 encryption type,
//   16 "MOBI", 20 MOBI header length, 28 code page, 36 format version,
//   92 locale, 112 HUFF record index, 116 HUFF and CDIC record count,
//   192 FDST record index and 196 FDST count (format 8), 242 extra-data
//   flags.
// In a joint file record 0 describes the older part; its text is the same
// as the newer part's, so the newer part is never read.
#include "text_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "book/big_endian.h"
#include "book/container.h"
#include "huffcdic.h"
#include "markup.h"
#include "palmdoc.h"
#include "work_budget.h"

namespace {

constexpr std::uint32_t NO_COMPRESSION = 1;
constexpr std::uint32_t PALMDOC = 2;
constexpr std::uint32_t HUFF_CDIC = 17480;
constexpr std::uint32_t NO_INDEX = 0xFFFFFFFF;

constexpr std::uint32_t MIN_TEXT_RECORD_SIZE = 4096;
// Work a record costs beyond its bytes (finding it, reading it).
constexpr std::uint64_t RECORD_WORK = 32;
// Record list entries read at a time.
constexpr std::uint32_t LIST_WINDOW = 512;
// A CDIC record's bytes past this are out of reach of its 16-bit entry
// offsets and 15-bit lengths.
constexpr std::uint32_t CDIC_REACH = 16 + 0xFFFF + 2 + 0x7FFF;
constexpr std::uint32_t MAX_HUFF_RECORD = 0x10000;
constexpr std::size_t MAX_DICTIONARY = std::size_t(16) << 20;

}  // namespace

struct TextReader::State {
    explicit State(ByteReader& source) : reader(source) {}

    ByteReader& reader;
    std::uint32_t file_size = 0;
    std::uint32_t record_count = 0;
    std::uint32_t compression = 0;
    std::uint32_t code_page = 0;
    std::uint32_t locale = 0;
    std::uint16_t extra_flags = 0;
    std::uint32_t text_records = 0;
    std::uint32_t limit = 0;        // a record's decompressed size at most
    std::uint32_t raw_limit = 0;    // a text record's stored size at most
    std::uint64_t text_total = 0;   // bytes of text in all
    std::uint64_t text_left = 0;    // bytes of text still to give
    WorkBudget work;                // over every reading
    bool sizes_vary = false;        // records may decompress past record_size
    bool readable = false;          // open() found the text readable (its tables too)
    bool has_start = false;         // where the book says reading starts
    std::uint32_t start = 0;
    std::uint32_t next_record = 1;
    std::uint32_t record_size = 0;  // a text record's decompressed size as declared
    std::uint32_t skip = 0;         // bytes of the next record before the start
    bool find_tag = false;          // and then up to the next '<'
    TextEnd end = TextEnd::unsupported;  // until open() succeeds

    std::vector<std::uint8_t> raw;   // the record as stored
    // Decompressed, with the decoders' slack past limit (written, never cleared).
    std::unique_ptr<std::uint8_t[]> text;
    std::size_t text_size = 0;
    // Record list entries list_first on, list_count of them.
    std::uint8_t list[8 * LIST_WINDOW] = {};
    std::uint32_t list_first = 0, list_count = 0;
    std::unique_ptr<HuffCdic> huff;
    std::unique_ptr<MarkupText> markup;

    book_status locate(std::uint32_t index, std::uint32_t& start, std::uint32_t& size, bool& found);
    book_status read_record(std::uint32_t index, std::uint32_t max_size, bool prefix,
                            std::vector<std::uint8_t>& bytes, bool& found);
    book_status read_tables(const ContainerInfo& book);
    bool cut_trailing_entries(std::uint32_t& size) const;
    // The next text record's decompressed bytes, cut to the text length and
    // the start: text and length, or nothing with end set.
    // to_tag: after the start, up to the next '<' too.
    book_status next_record_bytes(bool to_tag, const std::uint8_t*& text, std::size_t& length);
    // Back to the text's first byte, the work done so far still counted
    // (also after a record broke the format: the records before it read
    // again); false for a book whose text cannot be read.
    bool rewind();
};

// The start and size of record index, from its entry in the record list and
// the next one (or the file's end). found is false for an index past the
// list or entries out of order.
book_status TextReader::State::locate(std::uint32_t index, std::uint32_t& start, std::uint32_t& size, bool& found)
{
    found = false;
    if (index >= record_count)
        return BOOK_OK;
    const bool last = index + 1 == record_count;
    if (index < list_first || index + (last ? 0 : 1) >= list_first + list_count) {
        // The entries from index on (its end's too), a window at a time.
        list_first = index;
        list_count = std::min(LIST_WINDOW, record_count - index);
        list_count = std::max<std::uint32_t>(list_count, 1);
        work.charge(8 * list_count);
        book_status status = reader.seek(78 + 8 * index);
        if (status >= 0)
            status = reader.read(list, 8 * list_count);
        if (status < 0) {
            list_count = 0;
            return status;
        }
    }
    const std::uint8_t* const entries = list + 8 * (index - list_first);
    start = get4(entries);
    const std::uint32_t end = last ? file_size : get4(entries + 8);
    if (start < 78 + 8 * record_count || start > end || end > file_size)
        return BOOK_OK;
    size = end - start;
    found = true;
    return BOOK_OK;
}

// Reads record index into bytes: whole if it holds at most max_size bytes
// (found is false otherwise), or with prefix its first max_size bytes.
book_status TextReader::State::read_record(std::uint32_t index, std::uint32_t max_size, bool prefix,
                                           std::vector<std::uint8_t>& bytes, bool& found)
{
    std::uint32_t start = 0, size = 0;
    book_status status = locate(index, start, size, found);
    if (status < 0 || !found)
        return status;
    if (size > max_size) {
        if (!prefix) {
            found = false;
            return BOOK_OK;
        }
        size = max_size;
    }
    // Grown in steps of 4 KiB, so that what it holds depends on the largest
    // record's size, not on the order of the sizes before it.
    if (size > bytes.capacity())
        bytes.reserve((std::size_t(size) + 0xFFF) & ~std::size_t(0xFFF));
    bytes.resize(size);
    work.charge(RECORD_WORK + size);
    status = reader.seek(start);
    if (status >= 0 && size != 0)
        status = reader.read(bytes.data(), size);
    return status;
}

// The HUFF and CDIC records of a HUFF/CDIC book, and the FDST record of a
// format 8 book (the end of its first flow). Writers leave anything in the
// FDST index of a book of one flow, so it is read only when the count
// beside it says two flows or more. A table that breaks the format leaves
// end at broken.
book_status TextReader::State::read_tables(const ContainerInfo& book)
{
    bool found = false;
    std::vector<std::uint8_t>& bytes = raw;
    if (book.fdst_record != NO_INDEX && book.fdst_count > 1) {
        const book_status status = read_record(book.fdst_record, MAX_HUFF_RECORD, true, bytes, found);
        if (status < 0)
            return status;
        if (!found || bytes.size() < 12 || std::memcmp(bytes.data(), "FDST", 4) != 0)
            return BOOK_OK;
        const std::uint64_t table = get4(bytes.data() + 4);
        if (get4(bytes.data() + 8) == 0 || table + 8 > bytes.size() ||
            get4(bytes.data() + table) > get4(bytes.data() + table + 4))
            return BOOK_OK;
        text_left = std::min<std::uint64_t>(text_left, get4(bytes.data() + table + 4));
    }
    if (compression == HUFF_CDIC) {
        const std::uint32_t first = book.huff_record;
        const std::uint32_t count = book.huff_count;
        if (count < 2 || first >= record_count || count > record_count - first)
            return BOOK_OK;
        huff.reset(new HuffCdic);
        book_status status = read_record(first, MAX_HUFF_RECORD, true, bytes, found);
        if (status < 0 || !found || !huff->load_huff(bytes.data(), bytes.size()))
            return status;
        for (std::uint32_t i = 1; i < count; ++i) {
            status = read_record(first + i, CDIC_REACH, true, bytes, found);
            if (status < 0 || !found || !huff->add_cdic(bytes.data(), bytes.size(), MAX_DICTIONARY))
                return status;
        }
    }
    end = TextEnd::none;
    return BOOK_OK;
}

// Cuts the trailing entries the extra-data flags announce off a record of
// size bytes held in raw: for each set bit above bit 0 an entry that ends
// with its own size (a backward variable-length integer, the size counting
// its own bytes), then for bit 0 the multibyte overlap (the low two bits of
// the last byte, plus one). False if an entry does not fit.
bool TextReader::State::cut_trailing_entries(std::uint32_t& size) const
{
    const std::uint8_t* const bytes = raw.data();
    for (int bit = 1; bit < 16; ++bit) {
        if (!(extra_flags & (1u << bit)))
            continue;
        std::uint32_t value = 0, used = 0;
        for (bool more = true; more && used < 4;) {
            if (used == size)
                return false;
            const std::uint8_t b = bytes[size - 1 - used];
            value |= std::uint32_t(b & 0x7F) << (7 * used);
            more = !(b & 0x80);
            ++used;
        }
        if (value < used || value > size)
            return false;
        size -= value;
    }
    if (extra_flags & 1) {
        if (size == 0)
            return false;
        const std::uint32_t overlap = (bytes[size - 1] & 3u) + 1;
        if (overlap > size)
            return false;
        size -= overlap;
    }
    return true;
}

TextReader::TextReader(ByteReader& reader) : state_(new State(reader)) {}

TextReader::~TextReader() = default;

book_status TextReader::open()
{
    // The container analysis checks the PalmDB header, the record list and
    // record 0, as it does for every book the module reads.
    class Quiet final : public AnalysisObserver {
        void not_a_mobi(int, const char*) override {}
        void step_failed(const char*, int, book_status) override {}
    } quiet;
    ContainerInfo book;
    const book_status status = analyze_container(state_->reader, false, quiet, book);
    if (status != BOOK_OK) {
        state_.reset(new State(state_->reader));
        state_->end = status < 0 ? TextEnd::broken : TextEnd::unsupported;
        return status;
    }
    return open(book);
}

book_status TextReader::open(const ContainerInfo& book)
{
    state_.reset(new State(state_->reader));
    State& s = *state_;
    s.file_size = book.file_size;
    s.work = WorkBudget(book.file_size);
    s.record_count = book.record_count;
    s.compression = book.compression;
    s.text_left = book.text_length;
    s.text_records = book.text_records;
    s.code_page = book.text_encoding;
    s.locale = book.locale;
    s.extra_flags = book.extra_flags;
    s.has_start = book.has_start_offset;
    s.start = book.start_offset;
    // Old writers (format 3 and before) let records run past the size they
    // declare; when the text length says so, such files get twice the
    // room, as other readers give them.
    s.record_size = book.text_record_size;
    s.limit = std::max<std::uint32_t>(s.record_size, MIN_TEXT_RECORD_SIZE);
    s.sizes_vary = book.format_version <= 3;
    if (s.sizes_vary && s.text_left > std::uint64_t(s.limit) * s.text_records)
        s.limit *= 2;
    // Stored bytes: HUFF/CDIC codes may take up to four bytes per byte
    // of text; trailing entries come on top.
    s.raw_limit = 4 * s.limit + 0x10000;

    if (book.is_encrypted) {
        s.end = TextEnd::encrypted;
        return BOOK_OK;
    }
    if ((s.compression != NO_COMPRESSION && s.compression != PALMDOC && s.compression != HUFF_CDIC) ||
        (s.code_page != 1252 && s.code_page != 65001))
        return BOOK_OK;  // end stays unsupported
    s.end = TextEnd::broken;
    const book_status status = s.read_tables(book);
    if (status < 0) {
        s.end = TextEnd::broken;
        return status;
    }
    s.text_total = s.text_left;
    s.readable = s.end == TextEnd::none;
    s.text.reset(new std::uint8_t[s.limit + std::max(PALMDOC_SLACK, HuffCdic::COPY_SLACK)]);
    s.markup.reset(new MarkupText(s.code_page == 65001));
    return BOOK_OK;
}

book_status TextReader::State::next_record_bytes(bool to_tag, const std::uint8_t*& text,
                                                 std::size_t& length)
{
    text = nullptr;
    length = 0;
    bool found = false;
    if (work.spent_all()) {
        end = TextEnd::broken;
        return BOOK_OK;
    }
    const book_status status = read_record(next_record, raw_limit, false, raw, found);
    if (status < 0 || !found) {
        end = TextEnd::broken;
        return status;
    }
    std::uint32_t size = std::uint32_t(raw.size());
    if (!cut_trailing_entries(size)) {
        end = TextEnd::broken;
        return BOOK_OK;
    }
    const std::uint8_t* bytes = raw.data();
    std::size_t count = size;
    bool ok = true;
    if (compression == PALMDOC) {
        ok = palmdoc_decompress(raw.data(), size, this->text.get(), limit, count);
        // Each step reads a byte and writes one at least: what it wrote is the work.
        ok = work.charge(count) && ok;
        bytes = this->text.get();
    } else if (compression == HUFF_CDIC) {
        ok = huff->decompress(raw.data(), size, this->text.get(), limit, work, count);
        bytes = this->text.get();
    } else {
        ok = size <= limit;
    }
    if (!ok || work.spent_all()) {
        end = TextEnd::broken;
        return BOOK_OK;
    }
    count = std::size_t(std::min<std::uint64_t>(count, text_left));
    text_left -= count;
    std::size_t cut = std::min<std::size_t>(skip, count);
    if (find_tag && to_tag)
        while (cut < count && bytes[cut] != '<')
            ++cut;
    skip = 0;
    find_tag = false;
    text = bytes + cut;
    length = count - cut;
    ++next_record;
    return BOOK_OK;
}

book_status TextReader::next(std::u16string& piece)
{
    piece.clear();
    State& s = *state_;
    if (s.end != TextEnd::none)
        return BOOK_OK;
    if (s.next_record > s.text_records || s.text_left == 0) {
        s.markup->finish(piece);
        s.end = TextEnd::complete;
        return BOOK_OK;
    }
    const std::uint8_t* text = nullptr;
    std::size_t length = 0;
    const book_status status = s.next_record_bytes(true, text, length);
    if (status < 0 || s.end != TextEnd::none)
        return status;
    s.work.charge(length);
    s.markup->feed(text, length, piece);
    if (s.next_record > s.text_records || s.text_left == 0) {
        s.markup->finish(piece);
        s.end = TextEnd::complete;
    }
    return BOOK_OK;
}

book_status TextReader::next_markup(std::string& piece)
{
    piece.clear();
    State& s = *state_;
    if (s.end != TextEnd::none)
        return BOOK_OK;
    if (s.next_record > s.text_records || s.text_left == 0) {
        s.end = TextEnd::complete;
        return BOOK_OK;
    }
    const std::uint8_t* text = nullptr;
    std::size_t length = 0;
    const book_status status = s.next_record_bytes(false, text, length);
    if (status < 0 || s.end != TextEnd::none)
        return status;
    piece.assign(reinterpret_cast<const char*>(text), length);
    if (s.next_record > s.text_records || s.text_left == 0)
        s.end = TextEnd::complete;
    return BOOK_OK;
}

bool TextReader::State::rewind()
{
    if (!readable)
        return false;
    end = TextEnd::none;
    next_record = 1;
    text_left = text_total;
    skip = 0;
    find_tag = false;
    markup.reset(new MarkupText(code_page == 65001));
    return true;
}

bool TextReader::start_at(std::uint64_t offset)
{
    State& s = *state_;
    if (!s.readable || offset >= std::max<std::uint64_t>(s.text_total, 1) || (offset != 0 && s.record_size == 0))
        return false;
    const std::uint64_t records = offset == 0 || s.sizes_vary ? 0 : offset / s.record_size;
    if (records >= std::max<std::uint32_t>(s.text_records, 1) || !s.rewind())
        return false;
    // records * record_size <= offset < text_total: no wrap.
    s.next_record = std::uint32_t(1 + records);
    s.text_left -= records * s.record_size;
    std::uint64_t left = offset - records * s.record_size;
    // Where records may decompress past their declared size, the record
    // that holds offset is found by decompressing the ones before it.
    while (s.sizes_vary && left != 0) {
        const std::uint32_t record = s.next_record;
        const std::uint64_t text_left = s.text_left;
        const std::uint8_t* bytes = nullptr;
        std::size_t length = 0;
        if (record > s.text_records || s.text_left == 0 || s.next_record_bytes(false, bytes, length) < 0 ||
            s.end != TextEnd::none) {
            s.end = TextEnd::broken;
            return false;
        }
        if (left < length) {
            s.next_record = record;
            s.text_left = text_left;
            break;
        }
        left -= length;
    }
    s.skip = std::uint32_t(left);
    s.find_tag = offset != 0;
    return true;
}

TextEnd TextReader::end() const { return state_->end; }

std::uint32_t TextReader::code_page() const { return state_->code_page; }

std::uint32_t TextReader::locale() const { return state_->locale; }

std::uint64_t TextReader::decoder_steps() const { return state_->huff ? state_->huff->steps() : 0; }

bool TextReader::named_start(std::uint32_t& offset) const
{
    offset = state_->start;
    return state_->has_start;
}

std::uint64_t TextReader::work() const { return state_->work.spent(); }

bool TextReader::charge(std::uint64_t units) { return state_->work.charge(units); }
