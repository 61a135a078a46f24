// quirebinder.exe: a console client of the shell handler. It creates the
// handler the way the shell does and prints or saves what it serves, opens
// the shell's Properties dialog, and registers the module.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "host/arguments.h"
#include "host/commands.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "identity.h"

namespace {

struct Command {
    const wchar_t* name;
    ExitCode (*run)(const Arguments&);
    std::vector<std::wstring> value_options;
    std::vector<std::wstring> flags;
    const wchar_t* usage;
    const wchar_t* help;
};

const wchar_t DLL_HELP[] =
    L"  --dll MODULE  create the handler from this module file instead of the\n"
    L"                registered class\n";

const Command COMMANDS[] = {
    {L"thumbnail", run_thumbnail, {L"--size", L"-o", L"--dll"}, {},
     L"quirebinder thumbnail BOOK [--size N] [-o OUT.png] [--dll MODULE]",
     L"Writes the thumbnail the handler makes for BOOK as a PNG file.\n"
     L"  --size N      the thumbnail's box, N x N pixels (1 to 2560, default 256);\n"
     L"                the cover is fitted into it and never enlarged\n"
     L"  -o OUT.png    the file to write (default: the book's name with .png, in\n"
     L"                the current folder)\n"},
    {L"properties", run_properties, {L"--dll"}, {L"--json", L"--recursive"},
     L"quirebinder properties BOOK... [--json] [--recursive] [--dll MODULE]",
     L"Prints the handler's properties of BOOK under their canonical names, then\n"
     L"the fields of the MOBI property page: file name, publisher, dates, flags,\n"
     L"cover and source archive sizes.\n"
     L"  --json        one JSON object instead of text; with several books or a\n"
     L"                folder (its .mobi, .azw and .azw3 files), one per book, a\n"
     L"                book that cannot be read with \"error\" in place of its\n"
     L"                properties\n"
     L"  --recursive   a folder's subfolders too\n"},
    {L"source", run_source, {L"-o"}, {},
     L"quirebinder source BOOK -o OUT.zip",
     L"Saves the source archive embedded in BOOK as a ZIP file, as the property\n"
     L"page's Save Source does. The book itself is never written.\n"},
    {L"sheet", run_sheet, {}, {},
     L"quirebinder sheet BOOK...",
     L"Opens the shell's Properties dialog for the files and waits until it is\n"
     L"closed. The MOBI tab appears when the module is registered.\n"},
    {L"text", run_text, {L"--dll"}, {L"--json"},
     L"quirebinder text BOOK [--json] [--dll MODULE]",
     L"Prints the text the search filter gives the indexer for BOOK. The filter is\n"
     L"found as the indexer finds it (the extension's persistent handler) or made\n"
     L"from MODULE, and reads the book through a read-only stream.\n"
     L"  --json        every chunk instead: id, kind (value or text), break before\n"
     L"                it, locale, property, and its value or text\n"},
    {L"preview", run_preview, {L"--size", L"-o", L"--dll"}, {L"--json"},
     L"quirebinder preview BOOK [--size WxH] [-o OUT.png] [--json] [--dll MODULE]",
     L"Shows BOOK through the preview handler in a window, as Explorer's preview\n"
     L"pane does, and waits until the window is closed.\n"
     L"  --size WxH    the pane's size in pixels (each side 1 to 4096, default\n"
     L"                720x480)\n"
     L"  -o OUT.png    write a capture of the pane as PNG and close at once\n"
     L"  --json        print what the pane shows and close at once: the title,\n"
     L"                each detail row (label, value), the description, the\n"
     L"                opening text (paragraphs apart by a blank line), the\n"
     L"                cover's drawn size inside its frame (null without one),\n"
     L"                and the text area: its size, how many average characters\n"
     L"                of its font a line holds, whether it shows a scroll bar\n"},
    {L"register", run_register, {L"--dll"}, {L"--user"},
     L"quirebinder register [--user] [--dll MODULE]",
     L"Registers the modules beside quirebinder.exe (quirebinder64.dll in the\n"
     L"64-bit registry - quirebinderarm64.dll on Windows on ARM - and\n"
     L"quirebinder32.dll in the 32-bit one), or only MODULE.\n"
     L"  --user        for the current user only, without administrator rights;\n"
     L"                the property handler (Details pane, columns) needs the\n"
     L"                machine-wide registration\n"
     L"A file type another program already handles keeps its handler.\n"},
    {L"unregister", run_unregister, {L"--dll"}, {L"--user"},
     L"quirebinder unregister [--user] [--dll MODULE]",
     L"Removes what register wrote; another program's handlers stay.\n"},
    {L"doctor", run_doctor, {}, {L"--json", L"--user"},
     L"quirebinder doctor [--json] [--user]",
     L"Checks, without changing anything, what stands between you and the\n"
     L"thumbnails, properties, search and preview: every entry of the\n"
     L"registration in each registry view (ours, missing, or another program's),\n"
     L"the registered modules (file, machine, version; the classes created through\n"
     L"COM in this program's view), Explorer's \"icons only\", the thumbnail\n"
     L"policies, the approval list, the indexer's reach and the thumbnail cache.\n"
     L"Exit code 0 when nothing stands in the way in this program's view, 10\n"
     L"when something does.\n"
     L"  --json        one JSON object with every entry and finding\n"
     L"  --user        the per-user registration too\n"},
};

const wchar_t EXIT_CODES[] =
    L"Exit codes:\n"
    L"  0  success\n"
    L"  1  bad command or arguments\n"
    L"  2  the file is missing or cannot be read\n"
    L"  3  the file is not a MOBI book\n"
    L"  4  the book has no cover\n"
    L"  5  the book has no source archive\n"
    L"  6  the module cannot be loaded or its class created\n"
    L"  7  the registry cannot be written\n"
    L"  8  any other failure\n"
    L"  9  the book is encrypted (text)\n"
    L" 10  something stands in the way of the shell's features (doctor)\n";

void print_overview()
{
    std::wstring text = L"Usage:\n";
    for (const Command& command : COMMANDS)
        text += std::wstring(L"  ") + command.usage + L"\n";
    text += L"\n\"quirebinder COMMAND --help\" describes a command; \"quirebinder --version\" "
            L"prints the version.\n\n";
    print(text + EXIT_CODES);
}

void print_help(const Command& command)
{
    const bool takes_dll = command.value_options.size() > 0 &&
                           std::find(command.value_options.begin(), command.value_options.end(),
                                     L"--dll") != command.value_options.end();
    print(std::wstring(L"Usage: ") + command.usage + L"\n\n" + command.help +
          (takes_dll ? DLL_HELP : L"") + L"\n" + EXIT_CODES);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    if (args.empty() || args[0] == L"--help" || args[0] == L"-h" || args[0] == L"help") {
        print_overview();
        return args.empty() ? EXIT_USAGE : EXIT_OK;
    }
    if (args[0] == L"--version") {
        print(L"quirebinder " QB_VERSION_TEXT);
        return EXIT_OK;
    }
    const Command* command = nullptr;
    for (const Command& candidate : COMMANDS) {
        if (args[0] == candidate.name)
            command = &candidate;
    }
    if (!command) {
        print_error(L"unknown command " + args[0] + L" (see quirebinder --help)");
        return EXIT_USAGE;
    }
    args.erase(args.begin());
    std::vector<std::wstring> flags = command->flags;
    flags.push_back(L"--help");
    Arguments parsed;
    std::wstring error;
    if (!parse_arguments(args, command->value_options, flags, &parsed, &error)) {
        print_error(error + L" (see quirebinder " + command->name + L" --help)");
        return EXIT_USAGE;
    }
    if (parsed.has(L"--help")) {
        print_help(*command);
        return EXIT_OK;
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        print_error(L"cannot start COM");
        return EXIT_FAILED;
    }
    ExitCode code = EXIT_FAILED;
    try {
        code = command->run(parsed);
    } catch (const std::bad_alloc&) {
        print_error(L"out of memory");
    } catch (...) {
        print_error(L"unexpected failure");
    }
    CoUninitialize();
    return code;
}
