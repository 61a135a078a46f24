// Output of the host: a console gets wide text through WriteConsoleW, a
// file or pipe gets UTF-8 bytes.
#include "host/console.h"

#include <cstdio>
#include <cwchar>

namespace {

void write_line(DWORD which, const std::wstring& text)
{
    const HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE)
        return;
    const std::wstring line = text + L"\n";
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
    write_line(STD_OUTPUT_HANDLE, text);
}

void print_error(const std::wstring& text)
{
    write_line(STD_ERROR_HANDLE, L"quirebinder: " + text);
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

std::wstring utf16(const std::string& text)
{
    if (text.empty())
        return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(length > 0 ? std::size_t(length) : 0, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), result.data(), length);
    return result;
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(length > 0 ? std::size_t(length) : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), length,
                            nullptr, nullptr);
    return result;
}
