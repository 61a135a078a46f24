// Opening a book named on the command line and telling why it cannot be
// used: missing, unreadable, not a MOBI book.
#pragma once

#include <string>

#include "book/mobi_book.h"
#include "host/exit_codes.h"

// A MobiBook read from path, owned by the host.
using BookPtr = Microsoft::WRL::ComPtr<MobiBook>;

// Opens and analyses path. On failure prints the reason and returns its
// exit code; EXIT_OK with *book set otherwise.
ExitCode open_book(const std::wstring& path, BookPtr* book);

// The full path of path, for comparisons and messages.
std::wstring full_path(const std::wstring& path);

// Refuses (EXIT_USAGE, with a message) an output path that names the book
// itself under any name (same_file: a hard link, a "\\?\" path, a short
// name): the host never writes to a book. Every command that writes a file
// checks its output with this before anything else.
ExitCode check_output(const std::wstring& output, const std::wstring& book_path);
