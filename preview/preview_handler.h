// The preview handler: shows a book in the shell's preview pane, in a child
// window of the host's.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>
#include <propsys.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <memory>

#include "identity.h"
#include "preview/preview_window.h"
#include "server/unknown.h"

class PreviewHandler : public CUnknown,
                       public IPreviewHandler,
                       public IInitializeWithStream,
                       public IObjectWithSite,
                       public IOleWindow,
                       public IPreviewHandlerVisuals {
public:
    PreviewHandler();
    ~PreviewHandler() override;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    FORWARD_IUNKNOWN_TO_CUNKNOWN()

    // IInitializeWithStream
    STDMETHODIMP Initialize(IStream* stream, DWORD mode) override;

    // IPreviewHandler
    STDMETHODIMP SetWindow(HWND parent, const RECT* rect) override;
    STDMETHODIMP SetRect(const RECT* rect) override;
    STDMETHODIMP DoPreview() override;
    STDMETHODIMP Unload() override;
    STDMETHODIMP SetFocus() override;
    STDMETHODIMP QueryFocus(HWND* focus) override;
    STDMETHODIMP TranslateAccelerator(MSG* message) override;

    // IObjectWithSite
    STDMETHODIMP SetSite(IUnknown* site) override;
    STDMETHODIMP GetSite(REFIID riid, void** site) override;

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

    // IPreviewHandlerVisuals
    STDMETHODIMP SetBackgroundColor(COLORREF color) override;
    STDMETHODIMP SetFont(const LOGFONTW* font) override;
    STDMETHODIMP SetTextColor(COLORREF color) override;

private:
    // The window, where there is one, moved to parent_ and rect_, or given
    // visuals_.
    HRESULT move_window();
    HRESULT apply_visuals();

    Microsoft::WRL::ComPtr<IStream> stream_;
    Microsoft::WRL::ComPtr<IUnknown> site_;
    HWND parent_ = nullptr;
    RECT rect_ = {};
    PreviewVisuals visuals_;
    std::unique_ptr<PreviewWindow> window_;
};
