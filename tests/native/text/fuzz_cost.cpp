// libFuzzer target: what a book costs. The filter's full reading and the
// preview's opening (where reading starts, then its first 12,000
// characters) each stop within the book's work budget, a constant times
// the input's size: the work that every loop over the book's bytes counts
// passes the budget by at most one record's worth (its bytes, their
// decompression and their markup). Seeded with the crafted books that reach
// each loop's worst case.
#include "text/reading_start.h"
#include "text/text_reader.h"
#include "text/work_budget.h"
#include "harness.h"

namespace {

// The most one record's work may pass the budget by: a stored record of four
// times the largest record bound, its decompressed bytes and their markup.
constexpr std::uint64_t RECORD_WORK = std::uint64_t(1) << 20;

void check_work(const TextReader& text, std::size_t size, const char* what)
{
    fuzz_check(text.work() <= WorkBudget::PER_FILE_BYTE * size + WorkBudget::PER_BOOK + RECORD_WORK, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MemoryReader reader(data, size);
    {
        TextReader text(reader);
        if (text.open() != BOOK_OK)
            return 0;
        std::u16string piece;
        while (text.end() == TextEnd::none && text.next(piece) == BOOK_OK) {
        }
        check_work(text, size, "the full text's work");
    }
    TextReader text(reader);
    if (text.open() != BOOK_OK)
        return 0;
    std::uint64_t start = 0;
    if (find_reading_start(text, start) != BOOK_OK || !text.start_at(start))
        text.start_at(0);
    std::u16string piece;
    for (std::size_t characters = 0; characters < 12000 && text.end() == TextEnd::none && text.next(piece) == BOOK_OK;)
        characters += piece.size();
    check_work(text, size, "the preview opening's work");
    return 0;
}
