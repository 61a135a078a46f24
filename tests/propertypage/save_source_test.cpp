// Save Source: the proposed name, the safe write (the whole archive or
// nothing, never the book), and the button end to end through the Save As
// dialog and the message box, driven by a second thread as a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <utility>

#include "propertypage/save_source.h"
#include "tests/book/book_test_support.h"
#include "tests/propertypage/sheet_host.h"
#include "tests/support/fixture_books.h"

using namespace page_test;

namespace {

std::string source_sha256()
{
    for (const FixtureBook& book : FIXTURE_BOOKS)
        if (book.file == "cafe-noir-source.mobi")
            return book.source.sha256;
    return {};
}

// Names of the files in a folder.
std::set<std::wstring> files_in(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void write_file(const std::wstring& path, const std::string& text)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr));
    CloseHandle(file);
}

std::string file_text(const std::wstring& path)
{
    const Bytes bytes = file_bytes(path);
    return std::string(bytes.begin(), bytes.end());
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
    const struct {
        const wchar_t* book;
        const wchar_t* proposed;
    } cases[] = {
        {L"C:\\Books\\novel.mobi", L"C:\\Books\\novel.zip"},
        {L"C:\\Books\\novel", L"C:\\Books\\novel.zip"},
        {L"C:\\Books\\my.novel.mobi", L"C:\\Books\\my.novel.zip"},
        {L"C:\\my.books\\novel", L"C:\\my.books\\novel.zip"},
    };
    for (const auto& c : cases) {
        std::vector<wchar_t> buffer(wcslen(c.book) + 260, L'\0');
        wcscpy(buffer.data(), c.book);
        propose_zip_name(buffer.data());
        EXPECT_STREQ(c.proposed, buffer.data());
    }
}

TEST(WriteSourceFile, WritesTheWholeArchiveOrLeavesTheTargetAsItWas)
{
    const std::wstring folder = scratch_folder();
    const std::wstring book = book_copy(folder);
    const std::string book_hash = sha256_hex(file_bytes(book));
    const std::wstring target = folder + L"\\saved.zip";

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

    const struct {
        const char* name;
        ComPtr<MobiBook> book;
        std::wstring target;
        HRESULT result;
        bool saved;  // else the target keeps "old"
    } cases[] = {
        {"new file", book_on(book), target, S_OK, true},
        {"replaces the target", book_on(book), target, S_OK, true},
        {"read fails half way", failing_book, target, STG_E_READFAULT, false},
        {"the book itself", book_on(book), folder + L"\\.\\CAFE-NOIR-SOURCE.mobi",
         SAVE_E_TARGET_IS_BOOK, false},
        {"no archive", book_on(book_path(L"cafe-noir.mobi")), target, E_INVALIDARG, false},
        {"read-only target", book_on(book), target, E_ACCESSDENIED, false},
        {"missing folder", book_on(book), folder + L"\\missing\\saved.zip",
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (std::string(c.name) == "new file")
            DeleteFileW(target.c_str());
        else
            write_file(target, "old");
        if (std::string(c.name) == "read-only target")
            SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(c.result, write_source_file(*c.book.Get(), c.target.c_str()));
        if (c.saved)
            EXPECT_EQ(source_sha256(), sha256_hex(file_bytes(target)));
        else
            EXPECT_EQ("old", file_text(target));
        // Nothing else was left in the folder, and the book is as it was.
        EXPECT_EQ((std::set<std::wstring>{L"cafe-noir-source.mobi", L"saved.zip"}),
                  files_in(folder));
        EXPECT_EQ(book_hash, sha256_hex(file_bytes(book)));
    }
}

// Plays the user at the dialogs the page's thread opens: types a name into
// the Save As dialog (or cancels it when the name is empty), answers Yes to
// a question and OK to a message, and notes what it saw.
class DialogDriver {
public:
    // Dialogs open now (the property sheet) are not the driver's.
    explicit DialogDriver(std::wstring name)
        : name_(std::move(name)), thread_(GetCurrentThreadId())
    {
        for (HWND dialog : dialogs())
            sheet_.insert(dialog), handled.insert(dialog);
        worker_ = std::thread([this] { run(); });
    }
    ~DialogDriver() { finish(); }

    void finish()
    {
        done_ = true;
        if (worker_.joinable())
            worker_.join();
    }

    bool timed_out = false;
    bool saw_save_dialog = false;
    std::wstring proposed;                                         // the name field
    std::vector<std::pair<std::wstring, std::wstring>> messages;  // caption, text

private:
    static std::wstring text_of(HWND window)
    {
        wchar_t text[1024] = {};
        GetWindowTextW(window, text, 1024);
        return text;
    }

    // The thread's visible dialog windows.
    std::vector<HWND> dialogs() const
    {
        std::vector<HWND> found;
        EnumThreadWindows(
            thread_,
            [](HWND window, LPARAM list) {
                wchar_t name[16] = {};
                GetClassNameW(window, name, 16);
                if (IsWindowVisible(window) && std::wstring(name) == L"#32770")
                    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }

    void run()
    {
        const DWORD deadline = GetTickCount() + 15000;
        while (!done_) {
            const bool late = GetTickCount() > deadline;
            for (HWND dialog : dialogs()) {
                if (late && !sheet_.count(dialog)) {
                    // Whatever is still open now was not expected: close it
                    // so that the test fails rather than waits for ever.
                    timed_out = true;
                    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
                }
                if (handled.count(dialog))
                    continue;
                handled.insert(dialog);
                // The file name field: cmb13, or edt1 in older dialogs.
                if (const HWND field = GetDlgItem(dialog, 0x47C) ? GetDlgItem(dialog, 0x47C)
                                                                 : GetDlgItem(dialog, 0x480)) {
                    saw_save_dialog = true;
                    proposed = text_of(field);
                    if (!name_.empty())
                        SetWindowTextW(field, name_.c_str());
                    PostMessageW(dialog, WM_COMMAND, name_.empty() ? IDCANCEL : IDOK, 0);
                    continue;
                }
                std::wstring text;
                EnumChildWindows(
                    dialog,
                    [](HWND child, LPARAM out) {
                        wchar_t name[16] = {};
                        GetClassNameW(child, name, 16);
                        if (_wcsicmp(name, L"Static") == 0)
                            *reinterpret_cast<std::wstring*>(out) += text_of(child);
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(&text));
                messages.push_back({text_of(dialog), text});
                PostMessageW(dialog, WM_COMMAND, GetDlgItem(dialog, IDYES) ? IDYES : IDOK, 0);
            }
            Sleep(20);
        }
    }

    std::wstring name_;
    DWORD thread_;
    std::set<HWND> handled;
    std::set<HWND> sheet_;
    std::atomic<bool> done_{false};
    std::thread worker_;
};

TEST(SaveSourceButton, SavesThroughTheDialogAndReportsFailuresWithTheBooksName)
{
    const std::wstring folder = scratch_folder();
    const std::wstring book = book_copy(folder);
    const std::string book_hash = sha256_hex(file_bytes(book));
    const std::wstring failed = L"cafe-noir-source.mobi|Save Failed.";

    const struct {
        const char* name;
        std::wstring typed;     // empty: Cancel
        std::wstring saved;     // the file that must hold the archive, if any
        std::wstring messages;  // captions and texts after a question, "|"-joined
    } cases[] = {
        {"save", folder + L"\\saved.zip", folder + L"\\saved.zip", L""},
        {"extension added", folder + L"\\plain", folder + L"\\plain.zip", L""},
        {"replace", folder + L"\\saved.zip", folder + L"\\saved.zip", L"?"},
        {"cancel", L"", L"", L""},
        {"read-only target, cannot be replaced", folder + L"\\locked.zip", L"", L"?" + failed},
        {"the book itself", book, L"", L"?" + failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.saved.empty() && std::string(c.name) != "replace")
            DeleteFileW(c.saved.c_str());
        const std::wstring locked = folder + L"\\locked.zip";
        if (GetFileAttributesW(locked.c_str()) == INVALID_FILE_ATTRIBUTES) {
            write_file(locked, "old");
            SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        const std::set<std::wstring> before = files_in(folder);

        Sheet sheet({book});
        ASSERT_TRUE(sheet.enabled(1021));
        DialogDriver driver(c.typed);
        SendMessageW(sheet.control(1021), BM_CLICK, 0, 0);
        driver.finish();

        EXPECT_FALSE(driver.timed_out);
        EXPECT_TRUE(driver.saw_save_dialog);
        EXPECT_EQ(L"cafe-noir-source.zip", driver.proposed);
        std::wstring seen;
        for (const auto& message : driver.messages) {
            // A question (the dialog's own "replace?") is only counted.
            if (message.first != L"cafe-noir-source.mobi")
                seen += L"?";
            else
                seen += message.first + L"|" + message.second;
        }
        EXPECT_EQ(c.messages, seen);
        std::set<std::wstring> expected = before;
        if (!c.saved.empty()) {
            EXPECT_EQ(source_sha256(), sha256_hex(file_bytes(c.saved)));
            expected.insert(c.saved.substr(folder.size() + 1));
        }
        EXPECT_EQ(expected, files_in(folder));
        EXPECT_EQ(book_hash, sha256_hex(file_bytes(book)));
        EXPECT_EQ("old", file_text(locked));
    }
}

}  // namespace
