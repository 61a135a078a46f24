// quirebinder sheet BOOK...: the shell's own Properties dialog for the
// files, kept open until the user closes it.
#include <windows.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "server/last_error.h"
#include "server/unique_handle.h"

using Microsoft::WRL::ComPtr;

namespace {

// The process reference the shell holds while a thread it started for
// this process (the Properties dialog) still runs: a plain counted object.
class ProcessReference final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&count_)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&count_)); }

    // True while someone besides this process holds a reference.
    bool held() const { return InterlockedCompareExchange(&count_, 0, 0) > 1; }

private:
    mutable volatile LONG count_ = 1;  // this process's own
};

// Windows shows the dialog from a thread of its own and returns at once,
// holding the process reference until the dialog has gone; Wine shows it
// modally and returns when it has gone.
void wait_while_held(const ProcessReference& reference)
{
    while (reference.held()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
}

std::wstring folder_of(const std::wstring& full_path)
{
    return full_path.substr(0, full_path.find_last_of(L'\\'));
}

}  // namespace

HRESULT show_properties(const std::vector<std::wstring>& paths)
{
    std::vector<UniqueCoTaskMem<PIDLIST_ABSOLUTE>> lists(paths.size());
    std::vector<PCUITEMID_CHILD> children;
    ComPtr<IShellFolder> folder;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        HRESULT hr = SHParseDisplayName(paths[i].c_str(), nullptr, lists[i].out(), 0, nullptr);
        ComPtr<IShellFolder> parent;
        PCUITEMID_CHILD child = nullptr;
        if (SUCCEEDED(hr))
            hr = SHBindToParent(lists[i].get(), IID_PPV_ARGS(&parent), &child);
        if (FAILED(hr))
            return hr;
        if (!folder)
            folder = parent;
        children.push_back(child);
    }
    ComPtr<IContextMenu> menu;
    HRESULT hr = folder->GetUIObjectOf(nullptr, UINT(children.size()), children.data(),
                                       IID_IContextMenu, nullptr, &menu);
    if (FAILED(hr))
        return hr;
    const HMENU popup = CreatePopupMenu();
    if (!popup)
        return last_error_or(E_FAIL);
    hr = menu->QueryContextMenu(popup, 0, 1, 0x7FFF, CMF_NORMAL);
    if (SUCCEEDED(hr)) {
        CMINVOKECOMMANDINFO invoke = {};
        invoke.cbSize = sizeof(invoke);
        invoke.lpVerb = "properties";
        invoke.nShow = SW_SHOWNORMAL;
        hr = menu->InvokeCommand(&invoke);
    }
    DestroyMenu(popup);
    return hr;
}

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
        if (CompareStringOrdinal(folder_of(paths[0]).c_str(), -1, folder_of(paths.back()).c_str(),
                                 -1, TRUE) != CSTR_EQUAL) {
            print_error(L"the files of one Properties dialog must be in one folder");
            return EXIT_USAGE;
        }
    }
    static ProcessReference reference;
    SHSetInstanceExplorer(&reference);
    const HRESULT hr = show_properties(paths);
    wait_while_held(reference);
    SHSetInstanceExplorer(nullptr);
    if (FAILED(hr)) {
        print_error(L"the shell cannot show the Properties dialog: " + describe(hr));
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
