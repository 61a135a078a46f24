// Save Source: the Save As dialog and the safe write of the archive.
#include "propertypage/save_source.h"

#include <commdlg.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "book/mobi_book.h"
#include "server/module_context.h"
#include "server/com_boundary.h"
#include "server/file_identity.h"
#include "server/last_error.h"
#include "server/log.h"
#include "server/ui_language.h"
#include "resources/resource.h"

using Microsoft::WRL::ComPtr;

namespace {

const HRESULT CANCELLED = HRESULT_FROM_WIN32(ERROR_CANCELLED);

// Attempts at a free name for the new file before giving up.
constexpr int TEMPORARY_NAME_ATTEMPTS = 100;

// target's folder as an extended-length path ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), so that the temporary name, longer than
// target's own, cannot pass the classic path limit where target fits. A
// path of another form (a device path, or one already extended) is kept.
std::wstring extended_folder(const wchar_t* target)
{
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(target, DWORD(full.size()), full.data(), nullptr);
        if (length == 0)
            return std::wstring(target, std::size_t(PathFindFileNameW(target) - target));
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    full.resize(std::size_t(PathFindFileNameW(full.c_str()) - full.c_str()));
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return L"\\\\?\\" + full;
    if (full.size() >= 3 && full[0] == L'\\' && full[1] == L'\\' && full[2] != L'?' &&
        full[2] != L'.')
        return L"\\\\?\\UNC\\" + full.substr(2);
    return full;
}

// A new, empty file of a name nobody else uses, in target's folder; removed
// again when the holder ends unless kept.
class NewFile {
public:
    NewFile() : kept_(false) {}
    ~NewFile()
    {
        if (!kept_ && !path_.empty())
            DeleteFileW(path_.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    HRESULT create_beside(const wchar_t* target)
    {
        const std::wstring folder = extended_folder(target);
        const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
        for (int attempt = 0; attempt < TEMPORARY_NAME_ATTEMPTS; ++attempt) {
            wchar_t name[32];
            wsprintfW(name, L"~qb%08lx.tmp", static_cast<unsigned long>(seed + attempt));
            const std::wstring path = folder + name;
            const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
                path_ = path;
                return S_OK;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return hresult_from_error(error, E_FAIL);
        }
        return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
    }

    const std::wstring& path() const { return path_; }
    void keep() { kept_ = true; }

private:
    std::wstring path_;
    bool kept_;
};

HRESULT copy_into(MobiBook& book, const std::wstring& path)
{
    ComPtr<IStream> destination;
    ENSURE(SHCreateStreamOnFileW(path.c_str(), STGM_WRITE | STGM_SHARE_EXCLUSIVE,
                                 destination.GetAddressOf()));
    RETURN_IF_FAILED(book.copy_source(destination.Get()));
    // A stream can end early without an error (a book cut short since it
    // was analysed): only the whole archive counts.
    STATSTG stat = {};
    ENSURE(destination->Stat(&stat, STATFLAG_NONAME));
    ENSURE_THAT(stat.cbSize.QuadPart == book.source_size, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
    return S_OK;
}

}  // namespace

HRESULT write_source_file(MobiBook& book, const wchar_t* target)
{
    return guard_boundary(E_UNEXPECTED, [&]() -> HRESULT {
        if (!target || !*target)
            return E_INVALIDARG;
        if (!book.is_valid() || book.source_size == 0)
            return E_INVALIDARG;
        if (same_file(book.file_path.c_str(), target))
            return SAVE_E_TARGET_IS_BOOK;
        // Windows does not replace a read-only file, and neither would a
        // file opened for writing over it; the check keeps that so where a
        // rename would not refuse (Wine).
        const DWORD attributes = GetFileAttributesW(target);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            return E_ACCESSDENIED;

        NewFile file;
        ENSURE(file.create_beside(target));
        RETURN_IF_FAILED(copy_into(book, file.path()));
        if (!MoveFileExW(file.path().c_str(), target, MOVEFILE_REPLACE_EXISTING))
            return last_error_or(E_FAIL);
        file.keep();
        return S_OK;
    });
}

void propose_zip_name(wchar_t* buffer)
{
    lstrcpyW(PathFindExtensionW(buffer), L".zip");
}

HRESULT save_source(HWND owner, MobiBook& book)
{
    // The button is only enabled for these; a command sent anyway changes nothing.
    if (!book.is_valid() || book.source_size == 0)
        return E_INVALIDARG;

    bool cancelled = false;
    const HRESULT hr = guard_boundary(E_UNEXPECTED, [&]() -> HRESULT {
        std::vector<wchar_t> buffer(book.file_path.size() + 260, L'\0');
        book.file_path.copy(buffer.data(), book.file_path.size());
        propose_zip_name(buffer.data());

        OPENFILENAMEW dialog = {};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = owner;
        // Each name, its pattern, each ending in a null, and a last null.
        std::wstring filter = ui_text(IDS_SAVE_ZIP_FILES);
        filter += std::wstring(L"\0*.zip\0", 7) + ui_text(IDS_SAVE_ALL_FILES);
        filter += std::wstring(L"\0*.*\0", 6);
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = 0;
        dialog.lpstrFile = buffer.data();
        dialog.nMaxFile = static_cast<DWORD>(buffer.size());
        dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
        dialog.lpstrDefExt = L"zip";
        BOOL chosen;
        {
            ModuleContext context;
            ContextActivation active(context);
            chosen = GetSaveFileNameW(&dialog);
        }
        if (!chosen) {
            cancelled = true;
            return CANCELLED;
        }
        return write_source_file(book, buffer.data());
    });
    if (FAILED(hr) && !cancelled) {
        const UINT direction =
            is_right_to_left_language(ui_language()) ? MB_RTLREADING | MB_RIGHT : 0;
        MessageBoxW(owner, ui_text(IDS_SAVE_FAILED).c_str(), book.file_name.c_str(),
                    MB_OK | direction);
    }
    return hr;
}
