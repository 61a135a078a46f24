// Whether two paths name one file, told by what the file system says of
// the files rather than by their names: a hard link, a "\\?\" prefix, a
// short 8.3 name or another drive letter for the same folder all name the
// same file under different texts.
#pragma once

#include <windows.h>

// True when both paths name existing files (or folders) with the same
// volume serial number and file index; false when either cannot be opened.
bool same_file(const wchar_t* first, const wchar_t* second);
