// Thumbnails: GetLocation makes the first book's cover, fitted into the
// requested box, and keeps it as a top-down 32-bit DIB section until
// Extract hands it over; GetThumbnail makes the same bitmap and hands it
// over at once.
#include "handler/book_handler.h"

#include <climits>

#include "imaging/cover_bitmap.h"
#include "server/com_boundary.h"
#include "server/log.h"

namespace {

// The bitmap both interfaces give: the book's cover fitted into box by rule,
// unframed. Every failure is logged once, where it happens.
HRESULT make_thumbnail(MobiBook& book, const SIZE& box, FitRule rule, HBITMAP* out)
{
    ENSURE_THAT(box.cx > 0 && box.cy > 0, E_INVALIDARG);
    return cover_bitmap(book, UINT(box.cx), UINT(box.cy), rule, Frame{0, 0}, out);
}

}  // namespace

MobiBook* BookHandler::cover_book()
{
    MobiBook& book = *books[0].Get();
    return book.is_valid() && book.cover_size != 0 ? &book : nullptr;
}

STDMETHODIMP BookHandler::GetLocation(LPWSTR path, DWORD path_size, DWORD* priority,
                                      const SIZE* size, DWORD, DWORD* flags)
{
    trace_object(serial(), "GetLocation");
    if (!size || !flags)
        return E_POINTER;
    return guard_boundary(E_UNEXPECTED, [&] {
        ENSURE_THAT(!books.empty(), E_FAIL);
        extracted_bitmap.reset();
        MobiBook* book = cover_book();
        if (!book)
            return S_OK;
        if (path) {
            ENSURE_THAT(book->file_path.size() < path_size, E_OUTOFMEMORY);
            book->file_path.copy(path, book->file_path.size());
            path[book->file_path.size()] = L'\0';
        }
        if (priority)
            *priority = IEIT_PRIORITY_NORMAL;
        *flags |= IEIFLAG_REFRESH;
        // Without SCREEN or ORIGSIZE the caller wants the box filled.
        const FitRule rule =
            *flags & (IEIFLAG_SCREEN | IEIFLAG_ORIGSIZE) ? FitRule::shrink : FitRule::fill;
        return make_thumbnail(*book, *size, rule, extracted_bitmap.out());
    });
}

STDMETHODIMP BookHandler::Extract(HBITMAP* bitmap)
{
    trace_object(serial(), "Extract");
    if (!bitmap)
        return E_POINTER;
    *bitmap = extracted_bitmap.release();
    return *bitmap ? S_OK : E_NOTIMPL;
}

STDMETHODIMP BookHandler::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha)
{
    trace_object(serial(), "GetThumbnail");
    if (!bitmap || !alpha)
        return E_POINTER;
    *alpha = WTSAT_UNKNOWN;
    *bitmap = nullptr;
    return guard_boundary(E_UNEXPECTED, [&] {
        ENSURE_THAT(!books.empty(), E_FAIL);
        MobiBook* book = cover_book();
        if (!book)
            return E_NOTIMPL;
        // A side above LONG_MAX is no size at all; it is refused.
        const LONG side = cx > LONG_MAX ? 0 : LONG(cx);
        RETURN_IF_FAILED(make_thumbnail(*book, SIZE{side, side}, FitRule::shrink, bitmap));
        *alpha = WTSAT_RGB;
        return S_OK;
    });
}
