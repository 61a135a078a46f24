// The work a book may cause, counted in one unit per byte read from the
// file, per byte a decoder writes, per byte of markup scanned and per
// decoder step (a code read, a code length tried). One budget serves every
// loop over a book's bytes, over every reading of it (the preview reads the
// start of a book more than once), so that what a book costs is bounded by
// its size whatever its shape: each loop charges what it did, at most a
// record's worth at a time, and stops once the budget is spent.
#pragma once

#include <cstdint>

class WorkBudget {
public:
    // Units per byte of the file, and for any book: real books take 6 to 13
    // units per byte for their whole text (PalmDOC about 6: the record, 2.5
    // bytes of markup written and 2.5 scanned; HUFF/CDIC 12 to 13, with its
    // codes and copies), and the preview's reading start scans at most a few
    // hundred KiB more.
    static constexpr std::uint64_t PER_FILE_BYTE = 24;
    static constexpr std::uint64_t PER_BOOK = std::uint64_t(1) << 22;

    explicit WorkBudget(std::uint64_t file_size = 0) : left_(PER_FILE_BYTE * file_size + PER_BOOK) {}

    // Charges units; false once the budget is spent (by this or an earlier
    // charge), and the work must stop.
    bool charge(std::uint64_t units)
    {
        spent_ += units;
        if (units > left_) {
            left_ = 0;
            exhausted_ = true;
            return false;
        }
        left_ -= units;
        return !exhausted_;
    }
    bool spent_all() const { return exhausted_; }
    // Units charged so far, over the budget too.
    std::uint64_t spent() const { return spent_; }
    std::uint64_t left() const { return left_; }

private:
    std::uint64_t left_;
    std::uint64_t spent_ = 0;
    bool exhausted_ = false;
};
