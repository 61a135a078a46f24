// Output of the host: a console gets wide text through WriteConsoleW, a
// file or pipe gets UTF-8 bytes.
#include "host/console.h"

#include <cstdio>
#include <cwchar>

namespace {

void write_text(DWORD which, const std::wstring& line)
{
    const HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, line.data(), DWORD(line.size()), &written, nullptr);
        return;
    }
    const std::string bytes = utf8(line);
    WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}

}  // namespace

void print(const std::wstring& text)
{
    write_text(STD_OUTPUT_HANDLE, text + L"\n");
}

void write_out(const std::wstring& text)
{
    write_text(STD_OUTPUT_HANDLE, text);
}

void print_error(const std::wstring& text)
{
    write_text(STD_ERROR_HANDLE, L"quirebinder: " + text + L"\n");
}

std::wstring describe(HRESULT hr)
{
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = code;
    wchar_t* message = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t*>(&message), 0,
                       nullptr) &&
        message) {
        std::wstring words = message;
        while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                                  words.back() == L' ' || words.back() == L'.'))
            words.pop_back();
        if (!words.empty())
            text += L" (" + words + L")";
    }
    LocalFree(message);
    return text;
}

std::wstring json_string(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (const wchar_t c : text) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default:
            if (c < 0x20) {
                wchar_t escaped[8];
                std::swprintf(escaped, 8, L"\\u%04x", unsigned(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + L"\"";
}
