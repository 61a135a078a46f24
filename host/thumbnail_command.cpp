// quirebinder thumbnail BOOK [--size N] [-o OUT.png] [--dll MODULE]: the
// handler's thumbnail, written as PNG through the imaging component.
#include <windows.h>
#include <thumbcache.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cwchar>
#include <cwctype>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/handler_source.h"
#include "host/png_file.h"
#include "server/unique_handle.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr UINT LARGEST_SIZE = 2560;  // the shell's largest thumbnail

// A decimal number from 1 to LARGEST_SIZE; 0 for anything else.
UINT parse_size(const std::wstring& text)
{
    if (text.empty() || text.size() > 4)
        return 0;
    UINT value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return 0;
        value = value * 10 + UINT(c - L'0');
    }
    return value <= LARGEST_SIZE ? value : 0;
}

// The book's file name with its extension replaced by ".png", in the
// current folder.
std::wstring default_output(const std::wstring& book_path)
{
    const std::size_t slash = book_path.find_last_of(L"\\/:");
    std::wstring name = slash == std::wstring::npos ? book_path : book_path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.resize(dot);
    return name + L".png";
}

}  // namespace

ExitCode run_thumbnail(const Arguments& args)
{
    if (args.positional.size() != 1) {
        print_error(L"thumbnail needs one BOOK (see quirebinder thumbnail --help)");
        return EXIT_USAGE;
    }
    const std::wstring& path = args.positional[0];
    const UINT size = parse_size(args.option(L"--size", L"256"));
    if (size == 0) {
        print_error(L"--size must be a number from 1 to 2560");
        return EXIT_USAGE;
    }
    const std::wstring output = args.option(L"-o", default_output(path));
    if (const ExitCode code = check_output(output, path))
        return code;

    BookPtr book;
    if (const ExitCode code = open_book(path, &book))
        return code;
    if (book->cover_size == 0) {
        print_error(L"the book has no cover image: " + path);
        return EXIT_NO_COVER;
    }

    ComPtr<IThumbnailProvider> provider;
    if (const ExitCode code = create_handler(args.option(L"--dll"), IID_PPV_ARGS(&provider)))
        return code;
    if (const ExitCode code = initialize_with_file_stream(provider.Get(), full_path(path)))
        return code;
    UniqueBitmap bitmap;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    HRESULT hr = provider->GetThumbnail(size, bitmap.out(), &alpha);
    if (FAILED(hr) || !bitmap) {
        print_error(L"the handler made no thumbnail of " + path + L": " +
                    describe(FAILED(hr) ? hr : E_FAIL));
        return EXIT_FAILED;
    }
    UINT width = 0;
    UINT height = 0;
    hr = write_png(bitmap.get(), output, &width, &height);
    if (FAILED(hr)) {
        print_error(L"cannot write " + output + L": " + describe(hr));
        return EXIT_FAILED;
    }
    print(L"Wrote " + output + L" (" + std::to_wstring(width) + L"x" + std::to_wstring(height) +
          L")");
    return EXIT_OK;
}
