// quirebinder preview BOOK [--size WxH] [-o OUT.png] [--dll MODULE]: the
// preview handler hosted as the shell's preview host does, captured as PNG
// or left open until the window is closed.
#include <windows.h>
#include <wrl/client.h>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/handler_source.h"
#include "host/png_file.h"
#include "host/preview_host.h"
#include "preview/preview_handler.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int LARGEST_SIDE = 4096;

// "WxH", each side 1 to LARGEST_SIDE; false for anything else.
bool parse_size(const std::wstring& text, int* width, int* height)
{
    const std::size_t x = text.find_first_of(L"xX");
    if (x == std::wstring::npos || x == 0 || x + 1 >= text.size() || text.size() > 9)
        return false;
    int sides[2] = {0, 0};
    const std::wstring parts[2] = {text.substr(0, x), text.substr(x + 1)};
    for (int i = 0; i < 2; ++i) {
        for (const wchar_t c : parts[i]) {
            if (c < L'0' || c > L'9')
                return false;
            sides[i] = sides[i] * 10 + (c - L'0');
        }
        if (sides[i] < 1 || sides[i] > LARGEST_SIDE)
            return false;
    }
    *width = sides[0];
    *height = sides[1];
    return true;
}

}  // namespace

ExitCode run_preview(const Arguments& args)
{
    if (args.positional.size() != 1) {
        print_error(L"preview needs one BOOK (see quirebinder preview --help)");
        return EXIT_USAGE;
    }
    const std::wstring path = full_path(args.positional[0]);
    int width = 0, height = 0;
    if (!parse_size(args.option(L"--size", L"720x480"), &width, &height)) {
        print_error(L"--size must be WxH, each side from 1 to 4096");
        return EXIT_USAGE;
    }
    const std::wstring output = args.option(L"-o");
    if (!output.empty()) {
        if (const ExitCode code = check_output(output, path))
            return code;
    }
    ComPtr<IStream> stream;
    HRESULT hr = open_read_only_stream(path, &stream);
    if (FAILED(hr)) {
        print_error(L"cannot read " + path + L": " + describe(hr));
        return EXIT_NO_FILE;
    }
    ComPtr<IUnknown> handler;
    if (const ExitCode code = create_handler(args.option(L"--dll"), IID_PPV_ARGS(&handler),
                                             CLSID_QuirebinderPreview))
        return code;

    PreviewHost host;
    hr = host.start(handler.Get(), stream.Get(), width, height);
    if (FAILED(hr)) {
        print_error(L"the handler shows no preview of " + path + L": " + describe(hr));
        return EXIT_FAILED;
    }
    if (output.empty()) {
        host.run();
        return EXIT_OK;
    }
    const HBITMAP capture = host.capture();
    UINT written_width = 0, written_height = 0;
    hr = capture ? write_png(capture, output, &written_width, &written_height) : E_FAIL;
    if (capture)
        DeleteObject(capture);
    if (FAILED(hr)) {
        print_error(L"cannot write " + output + L": " + describe(hr));
        return EXIT_FAILED;
    }
    print(L"Wrote " + output + L" (" + std::to_wstring(written_width) + L"x" +
          std::to_wstring(written_height) + L")");
    return EXIT_OK;
}
