// The preview handler's COM methods. The window exists from DoPreview to
// Unload; every method keeps its exceptions.
#include "preview/preview_handler.h"

#include <utility>

#include "preview/preview_book.h"
#include "server/com_boundary.h"
#include "server/log.h"

using Microsoft::WRL::ComPtr;

namespace {

const InterfaceEntry PREVIEW_INTERFACES[] = {
    {&IID_IPreviewHandler, INTERFACE_OFFSET(PreviewHandler, IPreviewHandler), "IPreviewHandler",
     nullptr},
    {&IID_IInitializeWithStream, INTERFACE_OFFSET(PreviewHandler, IInitializeWithStream),
     "IInitializeWithStream", nullptr},
    {&IID_IObjectWithSite, INTERFACE_OFFSET(PreviewHandler, IObjectWithSite), "IObjectWithSite",
     nullptr},
    {&IID_IOleWindow, INTERFACE_OFFSET(PreviewHandler, IOleWindow), "IOleWindow", nullptr},
    {&IID_IPreviewHandlerVisuals, INTERFACE_OFFSET(PreviewHandler, IPreviewHandlerVisuals),
     "IPreviewHandlerVisuals", nullptr},
};

}  // namespace

PreviewHandler::PreviewHandler()
{
    trace_object(serial(), "PreviewHandler");
}

PreviewHandler::~PreviewHandler()
{
    trace_object(serial(), "~PreviewHandler");
    window_.reset();
}

STDMETHODIMP PreviewHandler::QueryInterface(REFIID riid, void** ppv)
{
    return query_table(PREVIEW_INTERFACES, sizeof PREVIEW_INTERFACES / sizeof PREVIEW_INTERFACES[0],
                       riid, ppv);
}

STDMETHODIMP PreviewHandler::Initialize(IStream* stream, DWORD)
{
    trace_object(serial(), "Preview:Initialize");
    if (!stream)
        return E_POINTER;
    if (stream_)
        return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    stream_ = stream;
    return S_OK;
}

HRESULT PreviewHandler::move_window()
{
    return guard_boundary(E_UNEXPECTED, [&] {
        if (window_)
            window_->move(parent_, rect_);
        return S_OK;
    });
}

HRESULT PreviewHandler::apply_visuals()
{
    return guard_boundary(E_UNEXPECTED, [&] {
        if (window_)
            window_->set_visuals(visuals_);
        return S_OK;
    });
}

STDMETHODIMP PreviewHandler::SetWindow(HWND parent, const RECT* rect)
{
    // Without a parent the pane would become a top-level window on the
    // desktop; the window stays where it is.
    if (!rect || !parent)
        return E_INVALIDARG;
    parent_ = parent;
    rect_ = *rect;
    return move_window();
}

STDMETHODIMP PreviewHandler::SetRect(const RECT* rect)
{
    if (!rect)
        return E_INVALIDARG;
    rect_ = *rect;
    return move_window();
}

STDMETHODIMP PreviewHandler::DoPreview()
{
    trace_object(serial(), "DoPreview");
    return guard_boundary(E_UNEXPECTED, [&]() -> HRESULT {
        ENSURE_THAT(stream_ && parent_, E_FAIL);
        window_.reset();
        PreviewBook book;
        // A stream that fails shows the message of a file that is not a
        // book; the failure is in the log.
        const HRESULT read = read_preview_book(stream_.Get(), book);
        if (FAILED(read) && log_errors())
            debug_log("DoPreview:read:0x%08x", static_cast<unsigned>(read));
        if (FAILED(read))
            book = PreviewBook();
        RETURN_IF_FAILED(PreviewWindow::create(parent_, rect_, std::move(book), visuals_, window_));
        return S_OK;
    });
}

STDMETHODIMP PreviewHandler::Unload()
{
    trace_object(serial(), "Unload");
    return guard_boundary(E_UNEXPECTED, [&] {
        window_.reset();
        stream_.Reset();
        return S_OK;
    });
}

STDMETHODIMP PreviewHandler::SetFocus()
{
    if (!window_)
        return S_FALSE;
    // The text area is the only stop; Tab and Shift+Tab both land there.
    const HWND target = IsWindowVisible(window_->text_area()) ? window_->text_area()
                                                               : window_->window();
    ::SetFocus(target);
    return S_OK;
}

STDMETHODIMP PreviewHandler::QueryFocus(HWND* focus)
{
    if (!focus)
        return E_INVALIDARG;
    // The window that has the focus, wherever it is; S_FALSE when none has.
    *focus = GetFocus();
    return *focus ? S_OK : S_FALSE;
}

// The pane keeps no keys of its own: Tab (which leaves the pane, as the
// pane has one stop) and every other key go to the frame.
STDMETHODIMP PreviewHandler::TranslateAccelerator(MSG* message)
{
    if (!message)
        return E_INVALIDARG;
    return guard_boundary(S_FALSE, [&]() -> HRESULT {
        ComPtr<IPreviewHandlerFrame> frame;
        if (!site_ || FAILED(site_.As(&frame)))
            return S_FALSE;
        return frame->TranslateAccelerator(message);
    });
}

STDMETHODIMP PreviewHandler::SetSite(IUnknown* site)
{
    site_ = site;
    return S_OK;
}

STDMETHODIMP PreviewHandler::GetSite(REFIID riid, void** site)
{
    if (!site)
        return E_POINTER;
    *site = nullptr;
    if (!site_)
        return E_FAIL;
    return site_->QueryInterface(riid, site);
}

STDMETHODIMP PreviewHandler::GetWindow(HWND* window)
{
    if (!window)
        return E_INVALIDARG;
    *window = parent_;
    return S_OK;
}

STDMETHODIMP PreviewHandler::ContextSensitiveHelp(BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP PreviewHandler::SetBackgroundColor(COLORREF color)
{
    visuals_.background = color;
    return apply_visuals();
}

STDMETHODIMP PreviewHandler::SetTextColor(COLORREF color)
{
    visuals_.text = color;
    return apply_visuals();
}

STDMETHODIMP PreviewHandler::SetFont(const LOGFONTW* font)
{
    if (!font)
        return E_INVALIDARG;
    visuals_.font = *font;
    visuals_.has_font = true;
    return apply_visuals();
}
