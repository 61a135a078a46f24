// The language of the module's user interface, chosen as Windows chooses a
// program's: the thread's preferred UI languages in order (with the user's
// and the system's after them), each taken to the nearest language the
// module's resources hold (the language itself, else its nearest regional
// variant), else English (United States). The dialog and the texts are then
// loaded in that language explicitly.
#pragma once

#include <windows.h>

#include <string>

// The language whose resources the module shows now, on this thread.
LANGID ui_language();
// The language among the module's resources that stands in for wanted;
// 0 when none of them is of its language.
LANGID nearest_ui_language(LANGID wanted);
// True for a language written right to left (Arabic, Hebrew, Persian, Urdu...).
bool is_right_to_left_language(LANGID language);
// A text of the module's string table in ui_language() (English where that
// language lacks it).
std::wstring ui_text(UINT id);
// Dialog template id in ui_language(); null when the module has none.
const DLGTEMPLATE* ui_dialog(UINT id);
