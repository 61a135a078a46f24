#include "host/book_check.h"

#include "host/console.h"
#include "server/file_identity.h"
#include "server/last_error.h"
#include "server/unique_handle.h"

std::wstring full_path(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return path;
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    if (written == 0 || written >= length)
        return path;
    full.resize(written);
    return full;
}

ExitCode open_book(const std::wstring& path, BookPtr* book)
{
    // Opened here first only to tell a missing file from an unreadable one.
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            print_error(L"no such file: " + path);
        else
            print_error(L"cannot read " + path + L": " +
                        describe(hresult_from_error(error, E_FAIL)));
        return EXIT_NO_FILE;
    }
    file.reset();

    BookPtr opened = new_book(full_path(path).c_str());
    if (!opened->is_valid()) {
        if (FAILED(opened->status)) {
            print_error(L"cannot read " + path + L": " + describe(opened->status));
            return EXIT_NO_FILE;
        }
        print_error(L"not a MOBI book: " + path);
        return EXIT_NOT_MOBI;
    }
    *book = std::move(opened);
    return EXIT_OK;
}

ExitCode check_output(const std::wstring& output, const std::wstring& book_path)
{
    if (same_file(output.c_str(), book_path.c_str())) {
        print_error(L"the output would replace the book itself: " + output);
        return EXIT_USAGE;
    }
    return EXIT_OK;
}
