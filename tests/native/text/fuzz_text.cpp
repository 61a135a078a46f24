// libFuzzer target: the text reader over arbitrary bytes (seeded with
// PalmDOC, HUFF/CDIC and uncompressed books with trailing entries, and the
// fixture books with their flow tables). Whatever the input, the reader
// ends, and its pieces keep the separator promises of text_reader.h.
#include "text/reading_start.h"
#include "text/text_reader.h"
#include "harness.h"

namespace {

// Where the book starts, found and read from with a second reader: it
// ends, and the start it gives is one the reader takes.
void read_from_start(MemoryReader& reader)
{
    TextReader text(reader);
    if (text.open() != BOOK_OK)
        return;
    std::uint64_t start = 0;
    if (find_reading_start(text, start) != BOOK_OK)
        return;
    fuzz_check(text.start_at(start) || text.end() != TextEnd::none, "start taken");
    std::u16string piece;
    for (int calls = 0; calls < 4 && text.end() == TextEnd::none; ++calls)
        fuzz_check(text.next(piece) == BOOK_OK, "next status from the start");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryReader reader(data, size);
    TextReader text(reader);
    const book_status status = text.open();
    fuzz_check(status == BOOK_OK || status == BOOK_NOT_MOBI, "open status");
    if (status != BOOK_OK)
        return 0;
    std::u16string piece;
    char16_t last = 0;
    // One call per text record at most, and one to finish.
    for (int calls = 0; text.end() == TextEnd::none; ++calls) {
        fuzz_check(calls <= 0x10000, "end");
        fuzz_check(text.next(piece) == BOOK_OK, "next status");
        for (char16_t c : piece) {
            fuzz_check(!(c == u'\n' && (last == u'\n' || last == u' ' || last == 0)), "paragraph break");
            fuzz_check(!(c == u' ' && (last == u'\n' || last == u' ' || last == 0)), "space");
            last = c;
        }
    }
    fuzz_check(last != u' ' && last != u'\n', "trailing separator");
    read_from_start(reader);
    return 0;
}
