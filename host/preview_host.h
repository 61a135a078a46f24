// The shell's preview host in small: a frame window, the handler given the
// frame as its site (IPreviewHandlerFrame), the book as a stream, the frame
// as its parent window and the frame's client area as its rectangle, then
// DoPreview. Used by "quirebinder preview" and by the tests.
#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include "server/unique_handle.h"

class PreviewHost {
public:
    PreviewHost();
    ~PreviewHost();  // stop()
    PreviewHost(const PreviewHost&) = delete;
    PreviewHost& operator=(const PreviewHost&) = delete;

    // Makes a visible frame window whose client area is width x height at
    // the screen's top left corner, and hosts handler in it over stream.
    // Returns the first failing call's status (DoPreview's last).
    HRESULT start(IUnknown* handler, IStream* stream, int width, int height);
    // Resizes the frame and tells the handler (SetRect).
    HRESULT resize(int width, int height);
    // A copy of the frame's client area from the screen, after the waiting
    // messages have been handled.
    UniqueBitmap capture();
    // Unload, the site taken back, the frame destroyed.
    void stop();

    // Handles the thread's messages until the frame is closed, giving each
    // key to the handler's TranslateAccelerator first, as the host does.
    void run();

    HWND frame() const { return frame_; }
    IPreviewHandler* handler() const { return handler_.Get(); }
    // Keys the handler passed back to the frame (Tab among them).
    int keys_from_handler() const;

private:
    class Frame;
    HWND frame_ = nullptr;
    Microsoft::WRL::ComPtr<IPreviewHandler> handler_;
    Frame* site_ = nullptr;
};

// Runs the messages waiting on this thread's queue.
void pump_preview_messages();
