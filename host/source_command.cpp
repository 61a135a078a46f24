// quirebinder source BOOK -o OUT.zip: the embedded source archive saved by
// the same code as the property page's Save Source.
#include <string>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "propertypage/save_source.h"

ExitCode run_source(const Arguments& args)
{
    if (args.positional.size() != 1 || args.option(L"-o").empty()) {
        print_error(L"source needs one BOOK and -o OUT.zip (see quirebinder source --help)");
        return EXIT_USAGE;
    }
    const std::wstring& path = args.positional[0];
    const std::wstring output = args.option(L"-o");
    if (const ExitCode code = check_output(output, path))
        return code;
    BookPtr book;
    if (const ExitCode code = open_book(path, &book))
        return code;
    if (book->source_size == 0) {
        print_error(L"the book has no source archive: " + path);
        return EXIT_NO_SOURCE;
    }
    const HRESULT hr = write_source_file(*book.Get(), full_path(output).c_str());
    if (FAILED(hr)) {
        print_error(L"cannot save the source archive to " + output + L": " + describe(hr));
        return EXIT_FAILED;
    }
    print(L"Wrote " + output + L" (" + std::to_wstring(book->source_size) + L" bytes)");
    return EXIT_OK;
}
