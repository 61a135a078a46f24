// The "MOBI" page of a file's property sheet: one book of the selection at a
// time, an up-down control to step through several, the cover picture and
// the "Save Source..." button.
#pragma once

#include <windows.h>
#include <prsht.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <vector>

#include "book/mobi_book.h"

class PropertyPage {
public:
    // Creates a page showing books and hands it to add_page. The page keeps
    // the books and one reference on owner (the handler that adds it) until
    // the sheet releases it; a page the sheet refuses is destroyed at once.
    static HRESULT add(const std::vector<Microsoft::WRL::ComPtr<MobiBook>>& books, IUnknown* owner,
                       LPFNSVADDPROPSHEETPAGE add_page, LPARAM param);

    PropertyPage(const PropertyPage&) = delete;
    PropertyPage& operator=(const PropertyPage&) = delete;

private:
    PropertyPage(const std::vector<Microsoft::WRL::ComPtr<MobiBook>>& books, IUnknown* owner);

    static INT_PTR CALLBACK dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static UINT CALLBACK callback(HWND window, UINT message, LPPROPSHEETPAGEW page);

    void init();
    // Shows books_[current_book_]: its fields for a valid book, only its
    // file name and the message for any other file.
    void show_book();
    // Makes the book's cover into a framed bitmap that fits the cover
    // control and shows it. On failure the control keeps the picture it had.
    HRESULT show_cover(MobiBook& book);
    // Shows picture in the cover control. The template's picture is never
    // deleted; any other bitmap lives exactly as long as the control shows it.
    void set_picture(HBITMAP picture);
    void step_to(const NMUPDOWN& change);
    void release_pictures();
    HWND picture_control() const;

    std::vector<Microsoft::WRL::ComPtr<MobiBook>> books_;
    Microsoft::WRL::ComPtr<IUnknown> owner_;
    // The book shown.
    UINT current_book_ = 0;
    // The page's dialog, once it exists.
    HWND window_ = nullptr;
    // The picture the cover control held when the dialog was created.
    HBITMAP initial_cover_image_ = nullptr;
};
