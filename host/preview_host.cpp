#include "host/preview_host.h"

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t FRAME_CLASS[] = L"QuirebinderPreviewFrame";

LRESULT CALLBACK frame_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_CLOSE) {
        ShowWindow(window, SW_HIDE);  // run() ends; stop() destroys the frame
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

// The site: the frame's side of the keyboard. A Tab the handler passes on
// takes the focus to the frame, as the shell moves it on to its next pane.
class PreviewHost::Frame final : public IPreviewHandlerFrame {
public:
    explicit Frame(HWND window) : window_(window) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPreviewHandlerFrame)
            return E_NOINTERFACE;
        *ppv = static_cast<IPreviewHandlerFrame*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&count_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&count_);
        if (count == 0)
            delete this;
        return ULONG(count);
    }
    STDMETHODIMP GetWindowContext(PREVIEWHANDLERFRAMEINFO* info) override
    {
        if (!info)
            return E_POINTER;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP TranslateAccelerator(MSG* message) override
    {
        if (!message)
            return E_INVALIDARG;
        ++keys;
        if (message->message == WM_KEYDOWN && message->wParam == VK_TAB) {
            SetFocus(window_);
            return S_OK;
        }
        return S_FALSE;
    }
    int keys = 0;

private:
    HWND window_;
    volatile LONG count_ = 1;
};

void pump_preview_messages()
{
    MSG message;
    for (int round = 0; round < 3; ++round, Sleep(1))
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            TranslateMessage(&message), DispatchMessageW(&message);
}

PreviewHost::PreviewHost() = default;

PreviewHost::~PreviewHost()
{
    stop();
}

HRESULT PreviewHost::start(IUnknown* handler, IStream* stream, int width, int height)
{
    stop();
    WNDCLASSEXW frame_class = {};
    frame_class.cbSize = sizeof(frame_class);
    frame_class.lpfnWndProc = frame_procedure;
    frame_class.hInstance = GetModuleHandleW(nullptr);
    frame_class.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    frame_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    frame_class.lpszClassName = FRAME_CLASS;
    RegisterClassExW(&frame_class);  // fails harmlessly when registered
    RECT outer = {0, 0, width, height};
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&outer, style, FALSE);
    frame_ = CreateWindowExW(0, FRAME_CLASS, L"Quirebinder preview", style, 0, 0,
                             outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                             frame_class.hInstance, nullptr);
    if (!frame_)
        return HRESULT_FROM_WIN32(GetLastError());
    ShowWindow(frame_, SW_SHOWNORMAL);
    // The client area where the screen shows it.
    RECT client = {};
    GetClientRect(frame_, &client);
    POINT origin = {0, 0};
    ClientToScreen(frame_, &origin);
    SetWindowPos(frame_, HWND_TOP, -origin.x, -origin.y, 0, 0, SWP_NOSIZE);

    HRESULT hr = handler->QueryInterface(IID_PPV_ARGS(&handler_));
    ComPtr<IObjectWithSite> with_site;
    if (SUCCEEDED(hr))
        hr = handler->QueryInterface(IID_PPV_ARGS(&with_site));
    if (SUCCEEDED(hr)) {
        site_ = new Frame(frame_);
        hr = with_site->SetSite(site_);
    }
    ComPtr<IInitializeWithStream> initialize;
    if (SUCCEEDED(hr))
        hr = handler->QueryInterface(IID_PPV_ARGS(&initialize));
    if (SUCCEEDED(hr))
        hr = initialize->Initialize(stream, STGM_READ);
    if (SUCCEEDED(hr))
        hr = handler_->SetWindow(frame_, &client);
    if (SUCCEEDED(hr))
        hr = handler_->SetRect(&client);
    if (SUCCEEDED(hr))
        hr = handler_->DoPreview();
    pump_preview_messages();
    return hr;
}

HRESULT PreviewHost::resize(int width, int height)
{
    if (!frame_ || !handler_)
        return E_UNEXPECTED;
    RECT outer = {0, 0, width, height};
    AdjustWindowRect(&outer, DWORD(GetWindowLongW(frame_, GWL_STYLE)), FALSE);
    SetWindowPos(frame_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    RECT client = {};
    GetClientRect(frame_, &client);
    const HRESULT hr = handler_->SetRect(&client);
    pump_preview_messages();
    return hr;
}

UniqueBitmap PreviewHost::capture()
{
    if (!frame_)
        return {};
    RedrawWindow(frame_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (int i = 0; i < 5; ++i)
        pump_preview_messages(), Sleep(20);
    RECT client = {};
    GetClientRect(frame_, &client);
    POINT origin = {0, 0};
    ClientToScreen(frame_, &origin);
    const UniqueScreenDc screen(GetDC(nullptr));
    const UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), client.right, client.bottom));
    if (memory && bitmap) {
        const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, client.right, client.bottom, screen.get(), origin.x, origin.y,
               SRCCOPY);
        SelectObject(memory.get(), old);
    }
    return bitmap;
}

void PreviewHost::stop()
{
    if (handler_) {
        handler_->Unload();
        ComPtr<IObjectWithSite> with_site;
        if (SUCCEEDED(handler_.As(&with_site)))
            with_site->SetSite(nullptr);
        handler_.Reset();
    }
    if (site_)
        site_->Release();
    site_ = nullptr;
    if (frame_)
        DestroyWindow(frame_);
    frame_ = nullptr;
    pump_preview_messages();
}

int PreviewHost::keys_from_handler() const
{
    return site_ ? site_->keys : 0;
}

void PreviewHost::run()
{
    MSG message;
    while (frame_ && IsWindowVisible(frame_) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && handler_ &&
            handler_->TranslateAccelerator(&message) == S_OK)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}
