// Saving a book's embedded source archive (the ZIP bytes of its SRCS
// record) as a file of its own.
#pragma once

#include <windows.h>

class MobiBook;

// What write_source_file answers for a target that is the book file itself.
constexpr HRESULT SAVE_E_TARGET_IS_BOOK = E_ACCESSDENIED;

// Writes the book's embedded source archive to target: exactly the archive's
// bytes, nothing before or after them. The bytes go to a new file in
// target's folder (opened by its extended-length path, so that where
// target's path fits the classic limit the longer temporary name cannot
// pass it), which replaces target (MoveFileExW,
// MOVEFILE_REPLACE_EXISTING) only once all of them are written; on any
// failure the new file is removed and target is left as it was. A target
// that is the book file itself under any name (same_file) is refused with
// SAVE_E_TARGET_IS_BOOK before anything is written, a read-only target
// with E_ACCESSDENIED. A book without an archive gives E_INVALIDARG.
HRESULT write_source_file(MobiBook& book, const wchar_t* target);

// Replaces the file name extension of the path in buffer (the last "." of
// its last component, or the end when there is none) with ".zip". buffer
// must have room for the path and four more characters.
void propose_zip_name(wchar_t* buffer);

// The page's "Save Source..." command for the book it shows, the dialog and
// any message owned by the page's window owner: a Save As
// dialog proposing the book's path with ".zip", then write_source_file. A
// cancelled dialog gives HRESULT_FROM_WIN32(ERROR_CANCELLED) without a
// message; any failure after it shows "Save Failed." with the book's file
// name as caption.
HRESULT save_source(HWND owner, MobiBook& book);
