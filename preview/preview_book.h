// What the preview shows of a book, read once from its stream: the fields,
// the description and opening text, and the cover as a bitmap in memory.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <string>

// Characters of opening text the preview reads at most.
constexpr std::size_t OPENING_TEXT_CHARS = 4000;

struct PreviewBook {
    bool valid = false;
    bool encrypted = false;
    std::wstring title, creator, publisher, published, created, language;
    bool right_to_left = false;  // the book's language is written right to left
    // The text area's contents: description, then the opening text (or the
    // line that says the text is encrypted), one paragraph each, a blank
    // line between paragraphs, with CR LF line breaks. The description is
    // its first description_size characters.
    std::wstring text;
    std::size_t description_size = 0;
    // The cover in 32-bit BGR, no side above COVER_LIMIT; null without one
    // or when it does not decode. The factory made it and scales it.
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
    Microsoft::WRL::ComPtr<IWICBitmap> cover;
};

// Largest side of the cover kept in memory.
constexpr UINT COVER_LIMIT = 1600;

// A text of the module's string table in the user's language.
std::wstring preview_text(UINT id);

// Reads stream into book. A file that is not a book leaves valid false and
// answers S_OK; a failure of the stream or of memory is returned (the book
// is then shown as not valid). A cover that does not decode is left out.
HRESULT read_preview_book(IStream* stream, PreviewBook& book);
