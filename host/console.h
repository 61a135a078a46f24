// Output of the host: UTF-8 when redirected, wide text on a console.
#pragma once

#include <windows.h>

#include <string>

#include "server/utf8.h"

void print(const std::wstring& text);  // to standard output, with a newline
void write_out(const std::wstring& text);  // to standard output, as it is
// "quirebinder: text" to standard error.
void print_error(const std::wstring& text);

// "0x80004005" and, where the system has one, its message.
std::wstring describe(HRESULT hr);
// text as a JSON string, quotes included.
std::wstring json_string(const std::wstring& text);

