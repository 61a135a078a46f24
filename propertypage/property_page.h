// The "MOBI" page of a file's property sheet: one book of the selection at a
// time, an up-down control to step through several, the cover picture and
// the "Save Source..." button.
#pragma once

#include <windows.h>
#include <prsht.h>
#include <shobjidl.h>

class Quirebinder;

// Creates the page for handler and hands it to add_page. The page holds one
// reference on the handler until its release callback.
HRESULT add_property_page(Quirebinder& handler, LPFNSVADDPROPSHEETPAGE add_page, LPARAM param);

INT_PTR CALLBACK page_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
UINT CALLBACK page_callback(HWND window, UINT message, LPPROPSHEETPAGEW page);
