#include "tests/bench/cycles.h"

#include <commctrl.h>
#include <prsht.h>
#include <propkey.h>
#include <propsys.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include "tests/handler/handler_test_support.h"
#include "tests/support/module_under_test.h"

namespace {

// A new handler initialised through the stream or the path route, asked
// for I; null when any step fails.
template <class I>
ComPtr<I> handler_with(IStream* stream, const std::wstring* path)
{
    ComPtr<IUnknown> handler = qb_create<IUnknown>();
    if (!handler)
        return nullptr;
    HRESULT hr = E_FAIL;
    if (stream) {
        ComPtr<IInitializeWithStream> init;
        if (SUCCEEDED(handler.As(&init)))
            hr = init->Initialize(stream, STGM_READ);
    } else {
        ComPtr<IInitializeWithFile> init;
        if (SUCCEEDED(handler.As(&init)))
            hr = init->Initialize(path->c_str(), STGM_READ);
    }
    ComPtr<I> wanted;
    if (FAILED(hr) || FAILED(handler.As(&wanted)))
        return nullptr;
    return wanted;
}

bool is_thumbnail(HBITMAP bitmap, LONG max_width, LONG max_height, bool exact)
{
    const handler_test::DibShape shape = handler_test::dib_shape(bitmap);
    if (!shape.is_dib || shape.bits != 32 || shape.width <= 0 || shape.height == 0)
        return false;
    const LONG height = shape.height < 0 ? -shape.height : shape.height;
    return exact ? shape.width == max_width && height == max_height
                 : shape.width <= max_width && height <= max_height;
}

BOOL CALLBACK add_page(HPROPSHEETPAGE page, LPARAM param)
{
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(param)->push_back(page);
    return TRUE;
}

// A click on the page's up-down control: the lower arrow moves to the next
// book, the upper to the previous one.
void click_arrow(HWND page, bool down)
{
    const HWND updown = GetDlgItem(page, 1002);
    if (!updown || !IsWindowVisible(updown))
        return;
    RECT rect = {};
    GetClientRect(updown, &rect);
    const LPARAM at = MAKELPARAM(rect.right / 2, down ? rect.bottom * 3 / 4 : rect.bottom / 4);
    SendMessageW(updown, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(updown, WM_LBUTTONUP, 0, at);
    pump_messages();
}

// Each book in turn, to the last and back to the first.
void step_through(HWND page, std::size_t books)
{
    for (std::size_t i = 1; i < books; ++i)
        click_arrow(page, true);
    for (std::size_t i = 1; i < books; ++i)
        click_arrow(page, false);
}

// The handler's pages for paths; Skipped while it has none to give.
CycleResult pages_for(const std::vector<std::wstring>& paths, std::vector<HPROPSHEETPAGE>& pages)
{
    ComPtr<IShellExtInit> init = qb_create<IShellExtInit>();
    if (!init)
        return CycleResult::Refused;
    ComPtr<handler_test::DropData> data = handler_test::DropData::drop_list(paths);
    if (FAILED(init->Initialize(nullptr, data.Get(), nullptr)))
        return CycleResult::Refused;
    ComPtr<IShellPropSheetExt> sheet_ext;
    if (FAILED(init.As(&sheet_ext)))
        return CycleResult::Broken;
    // Once this returns only the pages hold the handler.
    const HRESULT added = sheet_ext->AddPages(add_page, reinterpret_cast<LPARAM>(&pages));
    if (added == E_NOTIMPL)
        return pages.empty() ? CycleResult::Skipped : CycleResult::Broken;
    if (added == S_OK && pages.size() == 1)
        return CycleResult::Made;
    for (HPROPSHEETPAGE page : pages)
        DestroyPropertySheetPage(page);
    pages.clear();
    return CycleResult::Broken;
}

// The empty first page of the host's sheet.
INT_PTR CALLBACK blank_page_proc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

}  // namespace

const char* cycle_result_name(CycleResult result)
{
    switch (result) {
    case CycleResult::Made: return "made";
    case CycleResult::Refused: return "refused";
    case CycleResult::Skipped: return "skipped";
    case CycleResult::Broken: return "broken";
    }
    return "?";
}

void pump_messages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

CycleResult thumbnail_cycle(IStream* stream)
{
    ComPtr<IThumbnailProvider> provider = handler_with<IThumbnailProvider>(stream, nullptr);
    if (!provider)
        return CycleResult::Refused;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = provider->GetThumbnail(256, &bitmap, &alpha);
    const bool usable = bitmap && is_thumbnail(bitmap, 256, 256, false);
    if (bitmap)
        DeleteObject(bitmap);
    if (hr == S_OK)
        return usable && alpha == WTSAT_RGB ? CycleResult::Made : CycleResult::Broken;
    return bitmap ? CycleResult::Broken : CycleResult::Refused;
}

CycleResult extract_cycle(const std::wstring& path)
{
    ComPtr<IExtractImage> extract = handler_with<IExtractImage>(nullptr, &path);
    if (!extract)
        return CycleResult::Refused;
    const SIZE box = {100, 60};
    DWORD flags = 0;
    DWORD priority = 0;
    wchar_t location[MAX_PATH];
    if (FAILED(extract->GetLocation(location, MAX_PATH, &priority, &box, 32, &flags)))
        return CycleResult::Refused;
    HBITMAP bitmap = nullptr;
    const HRESULT hr = extract->Extract(&bitmap);
    const bool exact = bitmap && is_thumbnail(bitmap, 100, 60, true);
    if (bitmap)
        DeleteObject(bitmap);
    if (hr == S_OK)
        return exact ? CycleResult::Made : CycleResult::Broken;
    return bitmap ? CycleResult::Broken : CycleResult::Refused;
}

CycleResult property_store_cycle(const std::wstring& path)
{
    ComPtr<IPropertyStore> store = handler_with<IPropertyStore>(nullptr, &path);
    if (!store)
        return CycleResult::Refused;
    wchar_t text[] = L"x";
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPWSTR;
    value.pwszVal = text;
    if (store->SetValue(PKEY_Title, value) != STG_E_ACCESSDENIED)
        return CycleResult::Broken;

    PropVariantInit(&value);
    DWORD count = 0;
    if (FAILED(store->GetCount(&count)))
        return CycleResult::Refused;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key = {};
        if (FAILED(store->GetAt(i, &key)))
            return CycleResult::Broken;
        if (FAILED(store->GetValue(key, &value)))
            return CycleResult::Broken;
        PropVariantClear(&value);
    }
    return CycleResult::Made;
}

CycleResult property_set_cycle(const std::wstring& path)
{
    ComPtr<IPropertySetStorage> sets = handler_with<IPropertySetStorage>(nullptr, &path);
    if (!sets)
        return CycleResult::Refused;
    ComPtr<IPropertyStorage> storage;
    if (sets->Open(FMTID_SummaryInformation, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, &storage) !=
            STG_E_ACCESSDENIED ||
        storage)
        return CycleResult::Broken;

    PROPSPEC specs[2] = {};
    specs[0].ulKind = PRSPEC_PROPID;
    specs[0].propid = 2;  // title
    specs[1].ulKind = PRSPEC_PROPID;
    specs[1].propid = 4;  // author
    PROPVARIANT values[2];
    auto read = [&](IPropertyStorage* set) {
        PropVariantInit(&values[0]);
        PropVariantInit(&values[1]);
        if (SUCCEEDED(set->ReadMultiple(2, specs, values)))
            FreePropVariantArray(2, values);
    };

    ComPtr<IEnumSTATPROPSETSTG> all;
    if (FAILED(sets->Enum(&all)))
        return CycleResult::Refused;
    STATPROPSETSTG stat;
    while (all->Next(1, &stat, nullptr) == S_OK) {
        ComPtr<IPropertyStorage> set;
        if (SUCCEEDED(sets->Open(stat.fmtid, STGM_READ | STGM_SHARE_EXCLUSIVE, &set)))
            read(set.Get());
    }
    if (SUCCEEDED(sets->Open(FMTID_SummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &storage)))
        read(storage.Get());
    return CycleResult::Made;
}

CycleResult page_cycle(const std::vector<std::wstring>& paths)
{
    std::vector<HPROPSHEETPAGE> pages;
    const CycleResult given = pages_for(paths, pages);
    if (given != CycleResult::Made)
        return given;

    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
    header.pszCaption = L"Book Properties";
    header.nPages = UINT(pages.size());
    header.phpage = pages.data();
    const HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (!sheet || sheet == reinterpret_cast<HWND>(-1)) {
        for (HPROPSHEETPAGE page : pages)
            DestroyPropertySheetPage(page);
        return CycleResult::Broken;
    }
    pump_messages();
    const HWND page = PropSheet_GetCurrentPageHwnd(sheet);
    const bool shown = page && IsWindow(page);
    if (shown)
        step_through(page, paths.size());
    DestroyWindow(sheet);
    pump_messages();
    return shown ? CycleResult::Made : CycleResult::Broken;
}

PageHost::PageHost()
{
    // A blank page from an in-memory template: DLGTEMPLATE, then empty menu,
    // class and title.
    alignas(4) static const WORD blank[] = {
        LOWORD(WS_CHILD | DS_CONTROL), HIWORD(WS_CHILD | DS_CONTROL), 0, 0, 0, 0, 0, 0, 225, 200, 0, 0, 0};
    PROPSHEETPAGEW first = {};
    first.dwSize = sizeof(first);
    first.dwFlags = PSP_DLGINDIRECT;
    first.pResource = reinterpret_cast<LPCDLGTEMPLATEW>(blank);
    first.pfnDlgProc = blank_page_proc;
    HPROPSHEETPAGE pages[] = {CreatePropertySheetPageW(&first)};
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_MODELESS | PSH_NOAPPLYNOW;
    header.pszCaption = L"Book Properties";
    header.nPages = 1;
    header.phpage = pages;
    if (pages[0])
        sheet_ = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (sheet_ == reinterpret_cast<HWND>(-1))
        sheet_ = nullptr;
    pump_messages();
}

PageHost::~PageHost()
{
    if (sheet_)
        DestroyWindow(sheet_);
    pump_messages();
}

CycleResult PageHost::cycle(const std::vector<std::wstring>& paths)
{
    if (!sheet_)
        return CycleResult::Broken;
    std::vector<HPROPSHEETPAGE> pages;
    const CycleResult given = pages_for(paths, pages);
    if (given != CycleResult::Made)
        return given;
    if (!PropSheet_AddPage(sheet_, pages[0])) {
        DestroyPropertySheetPage(pages[0]);
        return CycleResult::Broken;
    }
    PropSheet_SetCurSel(sheet_, nullptr, 1);
    pump_messages();
    const HWND page = PropSheet_GetCurrentPageHwnd(sheet_);
    const bool shown = page && IsWindow(page) && PropSheet_IndexToHwnd(sheet_, 1) == page;
    if (shown)
        step_through(page, paths.size());
    PropSheet_SetCurSel(sheet_, nullptr, 0);
    PropSheet_RemovePage(sheet_, 1, nullptr);  // destroys the page
    pump_messages();
    return shown ? CycleResult::Made : CycleResult::Broken;
}
