#include "server/log.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cwchar>
#include <initializer_list>

#include "server/unique_handle.h"

namespace {

constexpr int LINE_UNITS = 1024;       // UTF-16 units, terminator included
constexpr int UTF8_BYTES = 3 * LINE_UNITS;
constexpr BYTE LOG_HEADER[] = {0xEF, 0xBB, 0xBF, 0x0D, 0x0A};

// Prints into buffer[0, room) and always terminates; a message that does not
// fit is cut at room - 1 units. Returns the units written.
int print_cut(wchar_t* buffer, int room, const wchar_t* format, va_list args)
{
    if (room <= 0)
        return 0;
    const int written = _vsnwprintf(buffer, static_cast<size_t>(room), format, args);
    if (written < 0 || written >= room) {
        buffer[room - 1] = L'\0';
        return room - 1;
    }
    return written;
}

int print_cut(wchar_t* buffer, int room, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = print_cut(buffer, room, format, args);
    va_end(args);
    return written;
}

}  // namespace

HANDLE open_log_file()
{
    WCHAR path[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, path)))
        return INVALID_HANDLE_VALUE;
    if (!PathAppendW(path, L"quirebinderlog.txt"))
        return INVALID_HANDLE_VALUE;

    const UniqueFile first(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!first)
        return INVALID_HANDLE_VALUE;
    DWORD written = 0;
    WriteFile(first.get(), LOG_HEADER, sizeof(LOG_HEADER), &written, nullptr);

    // Appending through a handle without write access to existing bytes keeps
    // lines of concurrent writers, in this and other processes, whole.
    return CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool debug_log(const char* format, ...)
{
    if (g_module.log_file == INVALID_HANDLE_VALUE)
        return false;

    wchar_t wide_format[LINE_UNITS];
    print_cut(wide_format, LINE_UNITS, L"%hs", format);

    wchar_t line[LINE_UNITS];
    int length = print_cut(line, LINE_UNITS, L"%04x:%04x:", GetCurrentProcessId(),
                           GetCurrentThreadId());
    va_list args;
    va_start(args, format);
    length += print_cut(line + length, LINE_UNITS - length, wide_format, args);
    va_end(args);
    for (const wchar_t end : {L'\r', L'\n'}) {
        if (length < LINE_UNITS - 1) {
            line[length++] = end;
            line[length] = L'\0';
        }
    }

    char utf8[UTF8_BYTES];
    const char* text = utf8;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length + 1, utf8, sizeof(utf8), nullptr,
                                    nullptr);
    if (bytes == 0) {
        static const char failed[] = "(WideCharToMultiByte failed)\r\n";
        text = failed;
        bytes = sizeof(failed);
    }
    DWORD written = 0;
    WriteFile(g_module.log_file, text, static_cast<DWORD>(bytes - 1), &written, nullptr);
    return true;
}

void trace_query_interface(ULONG serial, REFIID iid, const char* name)
{
    LPOLESTR iid_text = nullptr;
    if (FAILED(StringFromIID(iid, &iid_text)))
        iid_text = nullptr;
    debug_log("%04lu:%hs:%ls:%hs", serial, "QueryInterface", iid_text ? iid_text : L"{?}",
              name ? name : "(unsupported)");
    CoTaskMemFree(iid_text);
}
