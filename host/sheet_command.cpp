// quirebinder sheet BOOK...: the shell's own Properties dialog for the
// files, kept open until the user closes it.
#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"

using Microsoft::WRL::ComPtr;

namespace {

// An item id list freed on every way out.
struct IdList {
    PIDLIST_ABSOLUTE list = nullptr;
    ~IdList() { CoTaskMemFree(list); }
};

BOOL CALLBACK count_own_window(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window))
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int own_windows()
{
    int count = 0;
    EnumWindows(count_own_window, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The shell shows the dialog from a thread of its own and returns at once;
// this process must live until the dialog has gone.
void wait_for_dialog()
{
    constexpr DWORD STEP_MS = 100;
    constexpr DWORD APPEAR_MS = 10000;
    DWORD waited = 0;
    while (own_windows() == 0 && waited < APPEAR_MS) {
        Sleep(STEP_MS);
        waited += STEP_MS;
    }
    while (own_windows() > 0) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(STEP_MS);
    }
}

HRESULT show_several(const std::vector<std::wstring>& paths)
{
    std::vector<IdList> lists(paths.size());
    std::vector<PCIDLIST_ABSOLUTE> pointers;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const HRESULT hr = SHParseDisplayName(paths[i].c_str(), nullptr, &lists[i].list, 0, nullptr);
        if (FAILED(hr))
            return hr;
        pointers.push_back(lists[i].list);
    }
    ComPtr<IShellItemArray> items;
    HRESULT hr = SHCreateShellItemArrayFromIDLists(UINT(pointers.size()), pointers.data(), &items);
    ComPtr<IDataObject> data;
    if (SUCCEEDED(hr))
        hr = items->BindToHandler(nullptr, BHID_DataObject, IID_PPV_ARGS(&data));
    if (SUCCEEDED(hr))
        hr = SHMultiFileProperties(data.Get(), 0);
    return hr;
}

}  // namespace

ExitCode run_sheet(const Arguments& args)
{
    if (args.positional.empty()) {
        print_error(L"sheet needs at least one BOOK (see quirebinder sheet --help)");
        return EXIT_USAGE;
    }
    std::vector<std::wstring> paths;
    for (const std::wstring& path : args.positional) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            print_error(L"no such file: " + path);
            return EXIT_NO_FILE;
        }
        paths.push_back(full_path(path));
    }
    HRESULT hr = S_OK;
    if (paths.size() == 1)
        hr = SHObjectProperties(nullptr, SHOP_FILEPATH, paths[0].c_str(), nullptr) ? S_OK : E_FAIL;
    else
        hr = show_several(paths);
    if (FAILED(hr)) {
        print_error(L"the shell cannot show the Properties dialog: " + describe(hr));
        return EXIT_FAILED;
    }
    wait_for_dialog();
    return EXIT_OK;
}
