// Save Source: the proposed name, the safe write (the whole archive or
// nothing, never the book), and the button end to end through the Save As
// dialog and the message box, driven as a user would.
#include <set>
#include <utility>

#include "propertypage/save_source.h"
#include "tests/propertypage/sheet_host.h"
#include "tests/support/import_patch.h"

using namespace page_test;

namespace {

std::string source_sha256() { return fixture("cafe-noir-source.mobi").source.sha256; }
const Bytes OLD = {'o', 'l', 'd'};

std::set<std::wstring> files_in(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    FindClose(search);
    return names;
}

// A scratch copy of the fixture book with an archive.
std::wstring book_copy(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\cafe-noir-source.mobi";
    EXPECT_TRUE(CopyFileW(book_path(L"cafe-noir-source.mobi").c_str(), path.c_str(), FALSE));
    return path;
}

TEST(SaveSourceName, TheBooksPathWithZipInPlaceOfItsExtension)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Books\\novel.mobi", L"C:\\Books\\novel.zip"},
        {L"C:\\Books\\novel", L"C:\\Books\\novel.zip"},
        {L"C:\\Books\\my.novel.mobi", L"C:\\Books\\my.novel.zip"},
        {L"C:\\my.books\\novel", L"C:\\my.books\\novel.zip"},
    };
    for (const auto& [book, proposed] : cases) {
        wchar_t buffer[MAX_PATH] = {};
        wcscpy(buffer, book);
        propose_zip_name(buffer);
        EXPECT_STREQ(proposed, buffer);
    }
}

// Windows' classic path limit, which Wine does not keep: CreateFileW as the
// test program imports it (Save Source is linked into it) refuses a path of
// MAX_PATH characters or more that is not an extended-length one.
HANDLE WINAPI limited_create_file(const wchar_t* path, DWORD access, DWORD share,
                                  SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                  HANDLE model)
{
    if (wcslen(path) >= MAX_PATH && wcsncmp(path, L"\\\\?\\", 4) != 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    static const auto create_file = system_function<decltype(&CreateFileW)>(L"kernel32.dll",
                                                                            "CreateFileW");
    return create_file(path, access, share, security, disposition, flags, model);
}

TEST(WriteSourceFile, WritesTheWholeArchiveOrLeavesTheTargetAsItWas)
{
    const std::wstring folder = scratch_folder(), target = folder + L"\\saved.zip";
    const std::wstring book = book_copy(folder);
    const std::string book_hash = sha256_hex(file_bytes(book));
    // A folder of MAX_PATH - 8 characters: "a.zip" in it fits the limit,
    // the longer temporary name beside it would not.
    std::wstring deep = folder;
    for (std::size_t room; (room = MAX_PATH - 8 - deep.size()) > 0;) {
        deep += L"\\" + std::wstring(room > 50 ? 40 : room - 1, L'd');
        CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    }
    ASSERT_TRUE(patch_import(GetModuleHandleW(nullptr), "CreateFileW",
                             reinterpret_cast<void*>(limited_create_file)));
    // A book cut short after it was read: its stream ends inside the archive
    // without an error.
    const std::wstring cut_folder = folder + L"\\cut";
    CreateDirectoryW(cut_folder.c_str(), nullptr);
    ComPtr<MobiBook> cut = book_on(book_copy(cut_folder));
    ASSERT_TRUE(cut->is_valid());
    const HANDLE cut_file = CreateFileW((cut_folder + L"\\cafe-noir-source.mobi").c_str(),
                                        GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFilePointer(cut_file, LONG(cut->source_offset + cut->source_size / 2), nullptr, FILE_BEGIN);
    ASSERT_TRUE(SetEndOfFile(cut_file));
    CloseHandle(cut_file);
    // A book read through a stream that fails half way through the archive.
    mobi_test::MobiBuilder builder;
    builder.title = "Big Source";
    builder.add_text(512);
    builder.add_srcs(mobi_test::zip_bytes(20000));
    builder.add_record(Bytes(8, 0));  // the archive is never the last record
    ComPtr<TestStream> failing = TestStream::over(builder.build().bytes);
    ComPtr<MobiBook> failing_book = book_on(failing.Get());
    ASSERT_TRUE(failing_book->is_valid());
    failing->reads_before_failure = 2;  // two 4096-byte pieces, then errors

    enum Before { Nothing, Old, ReadOnly };  // what target holds before
    const struct {
        const char* name;
        ComPtr<MobiBook> book;
        Before before;
        std::wstring target;
        HRESULT result;
    } cases[] = {
        {"new file", book_on(book), Nothing, target, S_OK},
        {"replaces the target", book_on(book), Old, target, S_OK},
        {"read fails half way", failing_book, Old, target, STG_E_READFAULT},
        {"the book itself", book_on(book), Old, folder + L"\\.\\CAFE-NOIR-SOURCE.mobi",
         SAVE_E_TARGET_IS_BOOK},
        {"no archive", book_on(book_path(L"cafe-noir.mobi")), Old, target, E_INVALIDARG},
        {"read-only target", book_on(book), ReadOnly, target, E_ACCESSDENIED},
        {"missing folder", book_on(book), Old, folder + L"\\missing\\saved.zip",
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"deep folder", book_on(book), Old, deep + L"\\a.zip", S_OK},
        {"book cut short after it was read", cut, Old, target,
         HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(target.c_str());
        if (c.before != Nothing)
            write_file(target, OLD);
        if (c.before == ReadOnly)
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(c.result, write_source_file(*c.book.Get(), c.target.c_str()));
        if (c.result == S_OK)
            EXPECT_EQ(source_sha256(), sha256_hex(file_bytes(c.target)));
        else
            EXPECT_EQ(OLD, file_bytes(target));
        // Nothing else was left in the folder, and the book is as it was.
        EXPECT_EQ((std::set<std::wstring>{L"cafe-noir-source.mobi", L"saved.zip"}),
                  files_in(folder));
        EXPECT_EQ(book_hash, sha256_hex(file_bytes(book)));
    }
    patch_import(GetModuleHandleW(nullptr), "CreateFileW",
                 system_function<void*>(L"kernel32.dll", "CreateFileW"));
}

// Plays the user at the dialogs a click on the button opens, from a timer
// that their modal loops run: types a name into the Save As dialog (or
// cancels it when the name is empty) and answers Yes or OK to any other
// dialog, noting it as "caption|text" when its caption is the book's file
// name, else as "?" (a question of the Save As dialog's own). Cancels what
// is still open after 15 s, so that a test fails rather than waits for ever.
struct DialogDriver {
    explicit DialogDriver(std::wstring name) : typed(std::move(name)) {}
    std::wstring typed, proposed, messages;
    bool saw_save_dialog = false, timed_out = false;
    std::set<HWND> handled, sheet;
    DWORD deadline = GetTickCount() + 15000;

    void click(HWND button)
    {
        for (HWND open : dialogs_of(GetCurrentThreadId()))
            sheet.insert(open), handled.insert(open);
        static DialogDriver* current;
        current = this;
        const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {
            current->look();
        });
        SendMessageW(button, BM_CLICK, 0, 0);
        KillTimer(nullptr, timer);
    }
    void look()
    {
        for (HWND dialog : dialogs_of(GetCurrentThreadId())) {
            if (GetTickCount() > deadline && !sheet.count(dialog)) {
                timed_out = true;
                PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
            }
            if (!handled.insert(dialog).second)
                continue;
            // The file name field: cmb13, or edt1 in older dialogs.
            HWND field = GetDlgItem(dialog, 0x47C);
            if (field || (field = GetDlgItem(dialog, 0x480))) {
                saw_save_dialog = true;
                proposed = text_of(field);
                SetWindowTextW(field, typed.c_str());
                PostMessageW(dialog, WM_COMMAND, typed.empty() ? IDCANCEL : IDOK, 0);
                continue;
            }
            std::wstring text;
            EnumChildWindows(
                dialog,
                [](HWND child, LPARAM out) CALLBACK -> BOOL {
                    wchar_t name[16] = {};
                    GetClassNameW(child, name, 16);
                    if (_wcsicmp(name, L"Static") == 0)
                        *reinterpret_cast<std::wstring*>(out) += text_of(child);
                    return TRUE;
                },
                LPARAM(&text));
            const std::wstring caption = text_of(dialog);
            messages += caption == L"cafe-noir-source.mobi" ? caption + L"|" + text : L"?";
            PostMessageW(dialog, WM_COMMAND, GetDlgItem(dialog, IDYES) ? IDYES : IDOK, 0);
        }
    }
};

TEST(SaveSourceButton, SavesThroughTheDialogAndReportsFailuresWithTheBooksName)
{
    const std::wstring folder = scratch_folder(), locked = folder + L"\\locked.zip";
    const std::wstring book = book_copy(folder);
    const std::string book_hash = sha256_hex(file_bytes(book));
    write_file(locked, OLD);
    SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring failed = L"cafe-noir-source.mobi|Save Failed.";
    const struct {
        const char* name;
        std::wstring typed;     // empty: Cancel
        std::wstring saved;     // the file that must hold the archive, if any
        std::wstring messages;  // as DialogDriver notes them
    } cases[] = {
        {"save", folder + L"\\saved.zip", L"saved.zip", L""},
        {"extension added", folder + L"\\plain", L"plain.zip", L""},
        {"replace", folder + L"\\saved.zip", L"saved.zip", L"?"},
        {"cancel", L"", L"", L""},
        {"read-only target, cannot be replaced", locked, L"", L"?" + failed},
        {"the book itself", book, L"", L"?" + failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.messages.empty())  // a new file; "replace" finds the one "save" made
            DeleteFileW((folder + L"\\" + c.saved).c_str());
        std::set<std::wstring> expected = files_in(folder);
        Sheet sheet({book});
        ASSERT_TRUE(sheet.enabled(1021));
        DialogDriver driver(c.typed);
        driver.click(sheet.control(1021));

        EXPECT_FALSE(driver.timed_out);
        EXPECT_TRUE(driver.saw_save_dialog);
        EXPECT_EQ(L"cafe-noir-source.zip", driver.proposed);
        EXPECT_EQ(c.messages, driver.messages);
        if (!c.saved.empty()) {
            EXPECT_EQ(source_sha256(), sha256_hex(file_bytes(folder + L"\\" + c.saved)));
            expected.insert(c.saved);
        }
        EXPECT_EQ(expected, files_in(folder));
        EXPECT_EQ(book_hash, sha256_hex(file_bytes(book)));
        EXPECT_EQ(OLD, file_bytes(locked));
    }
}

}  // namespace
