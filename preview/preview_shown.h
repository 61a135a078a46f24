// How a program in the preview's process finds what the pane shows, as an
// accessibility tool would: the preview window's text is the book's title;
// each detail row is a label and a value control; the text area is the
// EDIT control, whose first characters (a window property) are the
// description; a window property holds the cover's drawn size.
#pragma once

#include <windows.h>

// The preview window's class.
constexpr wchar_t PREVIEW_WINDOW_CLASS[] = L"QuirebinderPreview";
// Control ids: row i's label and value, the text area.
constexpr int PREVIEW_LABEL_ID = 100;
constexpr int PREVIEW_VALUE_ID = 200;
constexpr int PREVIEW_TEXT_ID = 300;
constexpr int PREVIEW_ROWS_MAX = 8;
// On the text area: the number of characters of its text that are the
// description.
constexpr wchar_t PREVIEW_DESCRIPTION_PROPERTY[] = L"Quirebinder.DescriptionSize";
// On the preview window: the cover picture's size as drawn, inside its one
// pixel frame, as MAKELONG(width, height); absent when no cover is drawn.
constexpr wchar_t PREVIEW_COVER_PROPERTY[] = L"Quirebinder.CoverSize";
