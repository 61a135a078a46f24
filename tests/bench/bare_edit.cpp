// The texts of a book in bare read-only EDIT controls, without the module:
// tells a crash inside the platform's own text layout from one of ours.
//
//   qb_bare_edit.exe TEXTS_FILE
//
// TEXTS_FILE holds UTF-16LE texts, each ended by a NUL (qb_mutate --texts
// writes them). Each is shown as the property page shows its fields: an
// EDIT control with the page's style, in a dialog with the page's font
// (8 point "MS Shell Dlg 2"), given the text, focused, painted. Prints
// "shown" and ends with 0 when all were shown; a crash prints
// "crash CODE LIBRARY+OFFSET" and ends with 3. Nothing of the module is
// loaded or linked.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

LONG WINAPI on_unhandled(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
    char name[MAX_PATH] = "?";
    HMODULE module = nullptr;
    if (record && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                     static_cast<const char*>(record->ExceptionAddress), &module)) {
        char path[MAX_PATH];
        const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const char* base = std::strrchr(path, '\\');
            std::snprintf(name, sizeof name, "%s+0x%llX", base ? base + 1 : path,
                          static_cast<unsigned long long>(static_cast<const char*>(record->ExceptionAddress) -
                                                          reinterpret_cast<const char*>(module)));
        }
    }
    std::printf("crash 0x%08lX %s\n", record ? record->ExceptionCode : 0ul, name);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::vector<std::wstring> read_texts(const char* path)
{
    std::vector<std::wstring> texts;
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return texts;
    std::wstring text;
    unsigned char unit[2];
    while (std::fread(unit, 1, 2, file) == 2) {
        const wchar_t c = wchar_t(unit[0] | unit[1] << 8);
        if (c == 0) {
            texts.push_back(text);
            text.clear();
        } else {
            text += c;
        }
    }
    std::fclose(file);
    return texts;
}

INT_PTR CALLBACK dialog_proc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qb_bare_edit TEXTS_FILE\n");
        return 2;
    }
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(on_unhandled);
    const std::vector<std::wstring> texts = read_texts(argv[1]);

    // DLGTEMPLATE with DS_SETFONT: style, extended style, item count, x, y,
    // cx, cy, then no menu, the default class, no title, the font.
    alignas(4) WORD dialog[64] = {};
    const DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
    std::size_t at = 0;
    dialog[at++] = LOWORD(style);
    dialog[at++] = HIWORD(style);
    at += 2;                       // extended style
    dialog[at++] = 0;              // items
    at += 2;                       // x, y
    dialog[at++] = 230;            // cx
    dialog[at++] = 40;             // cy
    at += 3;                       // menu, class, title
    dialog[at++] = 8;              // point size
    for (const wchar_t* face = L"MS Shell Dlg 2"; *face; ++face)
        dialog[at++] = WORD(*face);
    const HWND window = CreateDialogIndirectW(GetModuleHandleW(nullptr),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(dialog), nullptr,
                                              dialog_proc);
    if (!window) {
        std::printf("no dialog\n");
        return 2;
    }
    const auto font = static_cast<WPARAM>(SendMessageW(window, WM_GETFONT, 0, 0));
    for (const std::wstring& text : texts) {
        const HWND edit = CreateWindowExW(0, L"EDIT", L"", 0x50010880, 10, 10, 320, 24, window,
                                          nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(edit, WM_SETFONT, font, TRUE);
        SetWindowTextW(edit, text.c_str());
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        InvalidateRect(edit, nullptr, TRUE);
        UpdateWindow(edit);
        pump();
        DestroyWindow(edit);
    }
    DestroyWindow(window);
    pump();
    std::printf("shown %zu\n", texts.size());
    return 0;
}
