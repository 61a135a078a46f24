// quirebinder.exe run as a user runs it, on the fixture books: exit codes,
// messages, the PNG it writes, the properties it prints. The host runs from
// a folder holding the module and the tests' stand-in propsys.dll.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "book/stream_reader.h"
#include "text/text_reader.h"
#include "host/console.h"
#include "host/exit_codes.h"
#include "tests/host/host_run.h"
#include "registration/registration.h"
#include "tests/book/book_test_support.h"
#include "tests/support/fixture_books.h"
#include "tests/support/mobi_builder.h"
#include "tests/support/module_under_test.h"

namespace {

std::wstring module_path()
{
    return host_folder() + L"\\" QB_MODULE_FILE;
}

std::wstring book(const std::string& name)
{
    return source_path((L"tests/data/books/" + utf16(name)).c_str());
}

// Width and height from a PNG file's IHDR chunk; 0 x 0 when it is not one.
std::pair<std::uint32_t, std::uint32_t> png_size(const Bytes& png)
{
    static const std::uint8_t SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 24 || !std::equal(std::begin(SIGNATURE), std::end(SIGNATURE), png.begin()) ||
        std::string(png.begin() + 12, png.begin() + 16) != "IHDR")
        return {0, 0};
    auto be4 = [&](std::size_t at) {
        return std::uint32_t(png[at]) << 24 | std::uint32_t(png[at + 1]) << 16 |
               std::uint32_t(png[at + 2]) << 8 | png[at + 3];
    };
    return {be4(16), be4(20)};
}

TEST(HostCommand, ThumbnailOfEveryBookWithACoverIsAPngOfTheFittedSize)
{
    const std::wstring folder = scratch_folder();
    constexpr double BOX = 128;
    for (const FixtureBook& expected : FIXTURE_BOOKS) {
        if (!expected.valid || !expected.cover.present)
            continue;
        SCOPED_TRACE(expected.file);
        const std::wstring png = folder + L"\\" + utf16(expected.file) + L".png";
        const HostRun run = run_host(L"thumbnail \"" + book(expected.file) + L"\" --size 128 -o \"" +
                                     png + L"\" --dll \"" + module_path() + L"\"",
                                 folder);
        EXPECT_EQ(0u, run.exit_code) << run.err;
        // Fitted into the box keeping the aspect ratio, never enlarged.
        const double scale =
            std::min(1.0, BOX / std::max(expected.cover.width, expected.cover.height));
        const auto size = png_size(read_file(png));
        EXPECT_EQ(std::lround(expected.cover.width * scale), long(size.first));
        EXPECT_EQ(std::lround(expected.cover.height * scale), long(size.second));
    }
}

TEST(HostCommand, PreviewWritesACaptureOfThePane)
{
    const std::wstring folder = scratch_folder();
    const std::wstring png = folder + L"\\preview.png";
    const HostRun run = run_host(L"preview \"" + book("cafe-noir.mobi") + L"\" --size 400x300 -o \"" +
                                     png + L"\" --dll \"" + module_path() + L"\"",
                                 folder);
    EXPECT_EQ(0u, run.exit_code) << run.err;
    EXPECT_EQ((std::pair<std::uint32_t, std::uint32_t>(400, 300)), png_size(read_file(png)));
}

// The number after "key": in a JSON text; -1 without one.
long json_number(const std::string& json, const std::string& key)
{
    const std::size_t at = json.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::atol(json.c_str() + at + key.size() + 4);
}

// What the pane shows, read from its controls by --json: the rows, the
// paragraphs, the cover's drawn size, and a column of at most 80 average
// characters with a scroll bar only for a text longer than the area.
TEST(HostCommand, PreviewJsonSaysWhatThePaneShows)
{
    const std::wstring folder = scratch_folder();
    // EXTH records as calibre writes them: its credit as contributor, its
    // "Unknown" for no author, its 0101-01-01 for no date.
    using Exth = std::vector<std::pair<std::uint32_t, std::string>>;
    const Exth calibre = {{100, "Unknown"}, {108, "calibre (9.5.0) [http://calibre-ebook.com]"},
                          {106, "0101-01-01T00:00:00+00:00"}};
    const auto write_book = [&](const wchar_t* name, const std::string& markup,
                                const Exth& exth = {{100, "Ann Writer"}}) {
        mobi_test::MobiBuilder builder;
        for (const auto& [type, value] : exth)
            builder.exth(type, value);
        builder.add_book_text(Bytes(markup.begin(), markup.end()));
        write_file(folder + L"\\" + name, builder.build().bytes);
        return folder + L"\\" + name;
    };
    std::string long_text;
    for (int i = 0; i < 60; ++i)
        long_text += "<p>Paragraph " + std::to_string(i) + " of the long book, its words running on.</p>";
    const std::string chapter = "<h1>CHAPTER I</h1><p>Alice was beginning to get very tired.</p>";
    const struct {
        std::wstring book, size;
        std::vector<std::string> shown;  // each in the output
        long characters_most;  // 0: not checked
        bool scroll_bar;
        std::vector<std::string> hidden = {};  // none in the output
    } cases[] = {
        {book("cafe-noir.mobi"), L"1600x500",
         {"\"valid\": true", "\"title\": \"Caf\u00e9 Noir\"", "{\"label\": \"Author:\", \"value\": \"Jane Doe",
          "{\"label\": \"Publisher:\", \"value\": \"\u00c9ditions Test\"}", "{\"label\": \"Language:\""},
         80, false},
        {book("cafe-noir.mobi"), L"320x560", {"\"cover\": {\"width\": "}, 0, false},
        {book("no-cover.mobi"), L"640x320", {"\"cover\": null"}, 80, false},
        {write_book(L"short.mobi", "<html><head><title>T</title></head><body><h1>One</h1><p>Two <b>bold</b>.</p>"
                                   "<p>Three<br/>Four</p></body></html>"),
         L"640x320",
         {"\"details\": [\n    {\"label\": \"Author:\", \"value\": \"Ann Writer\"},",
          "\"opening\": \"One\\n\\nTwo bold.\\n\\nThree\\n\\nFour\""},
         80, false},
        {write_book(L"long.mobi", long_text), L"640x320", {"\"opening\": \"Paragraph 0 of"}, 80, true},
        {book("palmdoc.pdb"), L"640x320", {"\"valid\": false"}, 0, false},
        {write_book(L"unknown.mobi", chapter, calibre), L"640x320", {"{\"label\": \"Created:\""}, 0, false,
         {"Author:", "Published:", "calibre"}},
        {write_book(L"carroll.mobi", chapter, {{100, "Lewis Carroll"}, calibre[1]}), L"640x320",
         {"{\"label\": \"Author:\", \"value\": \"Lewis Carroll\"}"}, 0, false, {"calibre"}},
        {write_book(L"gutenberg.mobi",
                    "<p>The Project Gutenberg EBook of Alice, by Lewis Carroll</p><p>This eBook is for the use of "
                    "anyone anywhere at no cost.</p><p>*** START OF THIS PROJECT GUTENBERG EBOOK ALICE ***</p>"
                    "<p>Produced by a volunteer</p>" + chapter),
         L"640x320", {"\"opening\": \"Produced by a volunteer\\n\\nCHAPTER I"}, 0, false},
        {write_book(L"contents.mobi",
                    "<p>THE CONTENTS</p><p><a filepos=0000000001>CHAPTER I</a></p><p>Lewis Carroll</p>"
                    "<p>190 <a filepos=0000000001>CHAPTER II</a></p><mbp:pagebreak/>" + chapter),
         L"640x320", {"\"opening\": \"CHAPTER I\\n\\nAlice was"}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.book + L" " + c.size));
        const HostRun run = run_host(L"preview \"" + c.book + L"\" --size " + c.size +
                                         L" --json --dll \"" + module_path() + L"\"",
                                     folder);
        EXPECT_EQ(0u, run.exit_code) << run.err;
        for (const std::string& shown : c.shown)
            EXPECT_NE(std::string::npos, run.out.find(shown)) << shown << "\n" << run.out;
        if (c.characters_most != 0) {
            const long characters = json_number(run.out, "characters");
            EXPECT_LE(characters, c.characters_most) << run.out;
            EXPECT_GE(characters, c.characters_most * 7 / 8) << run.out;
        }
        for (const std::string& hidden : c.hidden)
            EXPECT_EQ(std::string::npos, run.out.find(hidden)) << hidden << "\n" << run.out;
        EXPECT_EQ(c.scroll_bar, run.out.find("\"scroll_bar\": true") != std::string::npos) << run.out;
    }
}

TEST(HostCommand, EachFailureHasItsOwnExitCodeAndMessage)
{
    const std::wstring folder = scratch_folder();
    const std::wstring dll = L" --dll \"" + module_path() + L"\"";
    const std::wstring not_com = host_folder() + L"\\propsys.dll";
    // A book of the test's own, and other names of it: a hard link, its
    // "\\?\" path, its short name.
    const std::wstring own = folder + L"\\Cafe Noir With Source.mobi";
    const std::wstring link = folder + L"\\link.png";
    ASSERT_TRUE(CopyFileW(book("cafe-noir-source.mobi").c_str(), own.c_str(), FALSE));
    ASSERT_TRUE(CreateHardLinkW(link.c_str(), own.c_str(), nullptr));
    wchar_t short_name[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(own.c_str(), short_name, MAX_PATH));
    // Not a module, in the current folder under the name of the one beside
    // the host: a relative --dll names this one.
    ASSERT_TRUE(CopyFileW(not_com.c_str(), (folder + L"\\" QB_MODULE_FILE).c_str(), FALSE));
    // A DLL whose header names the ARM64 machine: not for x64 Windows.
    Bytes arm64 = read_file(not_com);
    const std::size_t pe = arm64[0x3C] | arm64[0x3D] << 8;
    arm64[pe + 4] = 0x64;
    arm64[pe + 5] = 0xAA;
    write_file(folder + L"\\arm64.dll", arm64);
    mobi_test::MobiBuilder encrypted;
    encrypted.encryption = 2;
    encrypted.add_text(100);
    write_file(folder + L"\\encrypted.mobi", encrypted.build().bytes);
    struct Case {
        std::wstring args;
        DWORD exit_code;
        const char* message;
    };
    std::vector<Case> cases = {
        {L"", EXIT_USAGE, "Usage:"},
        {L"bind", EXIT_USAGE, "unknown command bind"},
        {L"thumbnail", EXIT_USAGE, "thumbnail needs one BOOK"},
        {L"thumbnail x.mobi --size 0", EXIT_USAGE, "--size must be"},
        {L"thumbnail x.mobi --colour", EXIT_USAGE, "unknown option --colour"},
        {L"thumbnail \"" + book("cafe-noir.mobi") + L"\" -o \"" + book("cafe-noir.mobi") + L"\"",
         EXIT_USAGE, "would replace the book"},
        {L"thumbnail \"" + folder + L"\\missing.mobi\"" + dll, EXIT_NO_FILE, "no such file"},
        {L"properties \"" + folder + L"\\missing.mobi\"" + dll, EXIT_NO_FILE, "no such file"},
        {L"thumbnail \"" + book("palmdoc.pdb") + L"\"" + dll, EXIT_NOT_MOBI, "not a MOBI book"},
        {L"properties \"" + book("palmdoc.pdb") + L"\"" + dll, EXIT_NOT_MOBI, "not a MOBI book"},
        {L"thumbnail \"" + book("no-cover.mobi") + L"\"" + dll, EXIT_NO_COVER, "no cover image"},
        {L"source \"" + book("cafe-noir.mobi") + L"\" -o out.zip", EXIT_NO_SOURCE,
         "no source archive"},
        {L"thumbnail \"" + book("cafe-noir.mobi") + L"\" --dll \"" + folder + L"\\none.dll\"",
         EXIT_NO_MODULE, "cannot load module"},
        {L"thumbnail \"" + book("cafe-noir.mobi") + L"\" --dll \"" + not_com + L"\"",
         EXIT_NO_MODULE, "not a COM module"},
        {L"thumbnail \"" + book("cafe-noir.mobi") + L"\" --dll " QB_MODULE_FILE, EXIT_NO_MODULE,
         "not a COM module"},
        {L"properties \"" + book("cafe-noir.mobi") + L"\"", EXIT_NO_MODULE,
         "cannot create the registered class"},
        {L"register --dll \"" + folder + L"\\none.dll\"", EXIT_NO_MODULE, "no such module"},
        {L"register --dll \"" + folder + L"\\arm64.dll\"", EXIT_NO_MODULE,
         "not a module for this system"},
        {L"sheet \"" + folder + L"\\missing.mobi\"", EXIT_NO_FILE, "no such file"},
        {L"text \"" + folder + L"\\missing.mobi\"" + dll, EXIT_NO_FILE, "no such file"},
        {L"text \"" + book("palmdoc.pdb") + L"\"" + dll, EXIT_NOT_MOBI, "not a MOBI book"},
        {L"text \"" + folder + L"\\encrypted.mobi\"" + dll, EXIT_ENCRYPTED, "is encrypted"},
        {L"text \"" + book("cafe-noir.mobi") + L"\"", EXIT_NO_MODULE,
         "no search filter is registered for \".mobi\""},
        {L"preview x.mobi --size 640x0", EXIT_USAGE, "--size must be WxH"},
        {L"preview \"" + folder + L"\\missing.mobi\"" + dll, EXIT_NO_FILE, "cannot read"},
        {L"sheet \"" + book("cafe-noir.mobi") + L"\" \"" + module_path() + L"\"", EXIT_USAGE,
         "must be in one folder"},
    };
    for (const wchar_t* command : {L"thumbnail", L"source"}) {
        for (const std::wstring& alias : {link, L"\\\\?\\" + own, std::wstring(short_name)})
            cases.push_back({command + (L" \"" + own + L"\" -o \"" + alias + L"\"") +
                                 (command == std::wstring(L"thumbnail") ? dll : L""),
                             EXIT_USAGE, "the output would replace the book itself"});
    }
    const Bytes before = read_file(book("cafe-noir.mobi")), own_before = read_file(own);
    for (const Case& c : cases) {
        SCOPED_TRACE(utf8(c.args));
        const HostRun run = run_host(c.args, folder);
        EXPECT_EQ(c.exit_code, run.exit_code);
        if (c.args.empty()) {  // no command: the overview, on standard output
            EXPECT_NE(std::string::npos, run.out.find(c.message)) << run.out;
            continue;
        }
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    }
    EXPECT_EQ(before, read_file(book("cafe-noir.mobi")));
    EXPECT_EQ(own_before, read_file(own));
}

TEST(HostCommand, PropertiesPrintsTheStoreThenThePageFields)
{
    const std::wstring folder = scratch_folder();
    for (const FixtureBook& expected : FIXTURE_BOOKS) {
        if (!expected.valid)
            continue;
        SCOPED_TRACE(expected.file);
        const std::wstring args = L"properties \"" + book(expected.file) + L"\" --dll \"" +
                                  module_path() + L"\"";
        const HostRun text = run_host(args, folder);
        ASSERT_EQ(0u, text.exit_code) << text.err;
        std::string authors;
        for (const std::string& name : expected.authors)
            authors += (authors.empty() ? "" : "; ") + name;
        EXPECT_NE(std::string::npos, text.out.find("System.Title       " + expected.title + "\n"))
            << text.out;
        if (!authors.empty()) {
            EXPECT_NE(std::string::npos, text.out.find("System.Author      " + authors + "\n"));
        }
        EXPECT_NE(std::string::npos, text.out.find("File name          " + expected.file + "\n"));
        EXPECT_NE(std::string::npos,
                  text.out.find("Personal           " +
                                std::string(expected.is_personal ? "Yes" : "No") + "\n"));
        const std::string cover = expected.cover.present
                                      ? std::to_string(expected.cover.size) + " bytes"
                                      : std::string("none");
        EXPECT_NE(std::string::npos, text.out.find("Cover size         " + cover + "\n"));

        const HostRun json = run_host(args + L" --json", folder);
        ASSERT_EQ(0u, json.exit_code) << json.err;
        EXPECT_NE(std::string::npos, json.out.find("\"publisher\": \"" + expected.publisher + "\""))
            << json.out;
        EXPECT_NE(std::string::npos,
                  json.out.find("\"source_size\": " +
                                std::to_string(expected.source.present ? expected.source.size : 0)));
    }
}

// A folder with a book, a file of another type, a book that is not one and
// a subfolder with a book: one object per book, the subfolder's only with
// --recursive, the broken book's with an error; without --json a usage error.
TEST(HostCommand, PropertiesListsAFolderOneObjectPerBook)
{
    const std::wstring folder = scratch_folder();
    const std::wstring library = folder + L"\\library";
    CreateDirectoryW(library.c_str(), nullptr);
    CreateDirectoryW((library + L"\\inner").c_str(), nullptr);
    CopyFileW(book("cafe-noir.mobi").c_str(), (library + L"\\a.mobi").c_str(), FALSE);
    CopyFileW(book("wagahai.mobi").c_str(), (library + L"\\inner\\b.AZW3").c_str(), FALSE);
    CopyFileW(book("palmdoc.pdb").c_str(), (library + L"\\c.azw").c_str(), FALSE);
    CopyFileW(book("palmdoc.pdb").c_str(), (library + L"\\d.pdb").c_str(), FALSE);
    const std::wstring dll = L" --dll \"" + module_path() + L"\"";
    auto objects = [](const std::string& out) {
        int n = 0;
        for (std::size_t at = 0; (at = out.find("\n  \"file\": ", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };

    const HostRun flat = run_host(L"properties --json \"" + library + L"\"" + dll, folder);
    EXPECT_EQ(DWORD(EXIT_NOT_MOBI), flat.exit_code);
    EXPECT_EQ(2, objects(flat.out)) << flat.out;
    EXPECT_NE(std::string::npos, flat.out.find("c.azw\",\n  \"error\": \"not a MOBI book\"")) << flat.out;

    const HostRun deep = run_host(L"properties --json --recursive \"" + library + L"\"" + dll, folder);
    EXPECT_EQ(3, objects(deep.out)) << deep.out;
    EXPECT_NE(std::string::npos, deep.out.find("b.AZW3\"")) << deep.out;

    EXPECT_EQ(DWORD(EXIT_USAGE), run_host(L"properties \"" + library + L"\"" + dll, folder).exit_code);
}

TEST(HostCommand, TextPrintsTheFiltersTextAndWithJsonEveryChunk)
{
    const std::wstring folder = scratch_folder();
    const std::wstring path = book("cafe-noir.mobi");
    ComPtr<IStream> stream = open_read_only(path);
    StreamReader bytes(stream.Get());
    TextReader reader(bytes);
    ASSERT_EQ(BOOK_OK, reader.open());
    std::u16string text, piece;
    while (reader.end() == TextEnd::none && reader.next(piece) == BOOK_OK)
        text += piece;
    const std::wstring args = L"text \"" + path + L"\" --dll \"" + module_path() + L"\"";
    const HostRun plain = run_host(args, folder);
    EXPECT_EQ(0u, plain.exit_code) << plain.err;
    EXPECT_EQ(utf8(std::wstring(text.begin(), text.end())) + "\n", plain.out);

    const HostRun json = run_host(args + L" --json", folder);
    EXPECT_EQ(0u, json.exit_code) << json.err;
    for (const char* part :
         {"{\"id\": 1, \"kind\": \"value\", \"break\": \"sentence\", \"locale\": 1036, "
          "\"property\": \"System.Title\", \"value\": \"Caf\xC3\xA9 Noir\"}",
          "\"property\": \"System.Author\", \"value\": [\"Jane Doe\", \"John Roe\"]}",
          "{\"id\": 3, \"kind\": \"text\", \"break\": \"paragraph\", \"locale\": 1036, "
          "\"property\": \"System.Search.Contents\", \"text\": \""})
        EXPECT_NE(std::string::npos, json.out.find(part)) << json.out;
}

TEST(HostCommand, SourceWritesTheEmbeddedArchive)
{
    const std::wstring folder = scratch_folder();
    for (const FixtureBook& expected : FIXTURE_BOOKS) {
        if (!expected.source.present)
            continue;
        SCOPED_TRACE(expected.file);
        const std::wstring zip = folder + L"\\" + utf16(expected.file) + L".zip";
        const HostRun run = run_host(L"source \"" + book(expected.file) + L"\" -o \"" + zip + L"\"",
                                 folder);
        EXPECT_EQ(0u, run.exit_code) << run.err;
        EXPECT_EQ(expected.source.sha256, sha256_hex(read_file(zip)));
    }
}

// The shell's own dialog, closed as a user closes it. Wine's shows it
// modally while the verb runs; Windows' from a thread of its own.
TEST(HostCommand, SheetOpensTheShellsPropertiesDialogAndWaitsForIt)
{
    const std::wstring folder = scratch_folder();
    bool seen = false;
    const HostRun run =
        run_host(L"sheet \"" + book("cafe-noir.mobi") + L"\"", folder, [&] {
            // Closed again until it has gone: a close before the sheet
            // has finished starting is lost.
            for (int tries = 0; tries < 300; ++tries) {
                const HWND dialog = FindWindowW(nullptr, L"Properties for cafe-noir.mobi");
                if (dialog) {
                    seen = true;
                    PostMessageW(dialog, WM_CLOSE, 0, 0);
                } else if (seen) {
                    break;
                }
                Sleep(100);
            }
        });
    EXPECT_TRUE(seen);
    EXPECT_EQ(0u, run.exit_code) << run.err;
}

// Per machine: Wine's COM reads classes from the machine's keys only.
TEST(HostCommand, RegisteredClassServesWithoutDll)
{
    const std::wstring folder = scratch_folder();
    const std::wstring png = L" -o \"" + folder + L"\\cover.png\"";
    const std::wstring cover = L"thumbnail \"" + book("cafe-noir.mobi") + L"\"" + png;
    struct Step {
        std::wstring args;
        DWORD exit_code;
        const char* output;
    } const steps[] = {
        {L"register", EXIT_OK, "Registered "},
        {cover, EXIT_OK, "(192x256)"},
        {L"text \"" + book("cafe-noir.mobi") + L"\"", EXIT_OK, "stormy night"},
        {L"unregister", EXIT_OK,
         sizeof(void*) == 8 ? "Unregistered the 64-bit module" : "Unregistered the 32-bit module"},
        {cover, EXIT_NO_MODULE, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(utf8(step.args));
        const HostRun run = run_host(step.args, folder);
        EXPECT_EQ(step.exit_code, run.exit_code) << run.err;
        EXPECT_NE(std::string::npos, run.out.find(step.output)) << run.out;
    }
}

// The 32-bit host under WOW64 with both modules beside it, per machine and
// per user: each module's class in its own registry view, and neither left
// after unregister.
TEST(HostCommand, RegistersBothModulesBesideItInTheirViewsUnderWow64)
{
    if (sizeof(void*) == 8 || !is_64bit_windows())
        GTEST_SKIP() << "only the 32-bit host on 64-bit Windows writes both views";
    const std::wstring folder = scratch_folder();
    // The host reads only the names of the modules beside it.
    const std::wstring copies[][2] = {{L"quirebinder.exe", L"quirebinder.exe"},
                                      {QB_MODULE_FILE, L"quirebinder32.dll"},
                                      {QB_MODULE_FILE, L"quirebinder64.dll"}};
    for (const auto& copy : copies)
        ASSERT_TRUE(CopyFileW((host_folder() + L"\\" + copy[0]).c_str(),
                              (folder + L"\\" + copy[1]).c_str(), FALSE));
    const auto server = [](HKEY root, REGSAM view) {
        HKEY key = nullptr;
        wchar_t text[MAX_PATH] = {};
        DWORD size = sizeof(text) - sizeof(wchar_t);
        if (RegOpenKeyExW(root,
                          (L"Software\\Classes\\" + handler_class_key() + L"\\InprocServer32").c_str(),
                          0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS) {
            RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
            RegCloseKey(key);
        }
        return std::wstring(text);
    };
    for (const std::wstring scope : {L"", L" --user"}) {
        SCOPED_TRACE(utf8(scope));
        const HKEY root = scope.empty() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        HostRun run = run_host(L"register" + scope, folder, [] {}, folder);
        EXPECT_EQ(0u, run.exit_code) << run.err;
        EXPECT_NE(std::string::npos, run.out.find("quirebinder64.dll (64-bit")) << run.out;
        EXPECT_NE(std::string::npos, run.out.find("quirebinder32.dll (32-bit")) << run.out;
        // Wine 8 keeps one HKCU\Software\Classes for both views (Windows 7
        // and later keep the user's CLSID per view): the 32-bit module, written
        // last, is what both read there.
        EXPECT_EQ(folder + (scope.empty() ? L"\\quirebinder64.dll" : L"\\quirebinder32.dll"),
                  server(root, KEY_WOW64_64KEY));
        EXPECT_EQ(folder + L"\\quirebinder32.dll", server(root, KEY_WOW64_32KEY));
        run = run_host(L"unregister" + scope, folder, [] {}, folder);
        EXPECT_EQ(0u, run.exit_code) << run.err;
        EXPECT_EQ(L"", server(root, KEY_WOW64_64KEY));
        EXPECT_EQ(L"", server(root, KEY_WOW64_32KEY));
    }
}

}  // namespace
