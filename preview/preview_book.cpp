// Reading a book for the preview: the fields through MobiBook, the
// description from record 0 as the container analysis gives it, the opening
// text through the text reader, the cover decoded and bounded in size.
#include "preview/preview_book.h"

#include <shlobj.h>

#include "book/container.h"
#include "text/markup.h"
#include "book/metadata.h"
#include "book/mobi_book.h"
#include "text/reading_start.h"
#include "book/stream_reader.h"
#include "text/text_reader.h"
#include "imaging/cover_bitmap.h"
#include "resources/resource.h"
#include "server/log.h"
#include "server/module.h"
#include "server/ui_language.h"

using Microsoft::WRL::ComPtr;

namespace {

// The markup's paragraph breaks ('\n') as a blank line of the edit
// control, CR LF CR LF.
std::wstring as_paragraphs(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size() + text.size() / 8);
    for (const wchar_t c : text) {
        if (c == L'\n')
            out += L"\r\n\r\n";
        else
            out += c;
    }
    return out;
}

// The description (EXTH 103) as plain text: its markup through the text
// reader's, in the book's code page where that reader decodes it, else
// converted as the other fields are.
std::wstring description_of(const ContainerInfo& info)
{
    if (!info.has_description)
        return {};
    const std::uint8_t* bytes = info.record0.data() + info.description.offset;
    const std::uint32_t count = info.description.size;
    if (info.text_encoding != 1252 && info.text_encoding != 65001)
        return decode_text(bytes, count, info.text_encoding);
    std::u16string text;
    MarkupText markup(info.text_encoding == 65001);
    markup.feed(bytes, count, text);
    markup.finish(text);
    return std::wstring(text.begin(), text.end());
}

// Characters of the text's start searched for Project Gutenberg's header.
constexpr std::size_t GUTENBERG_HEADER_CHARS = 8000;

// Where the text goes on after Project Gutenberg's licence header, the line
// "*** START OF THE (or THIS) PROJECT GUTENBERG EBOOK ... ***", when its
// first GUTENBERG_HEADER_CHARS characters hold it; else 0.
std::size_t past_gutenberg_header(const std::wstring& text)
{
    std::wstring head = text.substr(0, GUTENBERG_HEADER_CHARS);
    for (wchar_t& c : head)
        c = c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
    for (const wchar_t* line : {L"START OF THE PROJECT GUTENBERG EBOOK", L"START OF THIS PROJECT GUTENBERG EBOOK",
                                L"START OF THE PROJECT GUTENBERG E-BOOK", L"START OF THIS PROJECT GUTENBERG E-BOOK"}) {
        const std::size_t at = head.find(line);
        if (at == std::wstring::npos || head.rfind(L"***", at) == std::wstring::npos ||
            at - head.rfind(L"***", at) > 4)
            continue;
        // The line ends with "***", else with its paragraph.
        std::size_t end = head.find(L"***", at);
        end = end != std::wstring::npos ? end + 3 : head.find(L'\n', at);
        if (end == std::wstring::npos)
            return 0;
        while (end < text.size() && (text[end] == L' ' || text[end] == L'\n'))
            ++end;
        return end;
    }
    return 0;
}

// The first OPENING_TEXT_CHARS characters of the book's text from where a
// reader starts (past Project Gutenberg's header), cut at the last space
// before the bound; what the reader gave before a fault stands. One reader finds the start and reads on from
// it, so a HUFF/CDIC dictionary is loaded once and the book's work bound
// holds for the whole preview.
std::wstring opening_text_of(IStream* stream, const ContainerInfo& book)
{
    StreamReader reader(stream);
    TextReader text(reader);
    if (text.open(book) != BOOK_OK)
        return {};
    std::uint64_t start = 0;
    if (find_reading_start(text, start) < 0 || !text.start_at(start))
        text.start_at(0);
    std::wstring opening;
    std::u16string piece;
    while (opening.size() < GUTENBERG_HEADER_CHARS + OPENING_TEXT_CHARS && text.end() == TextEnd::none &&
           text.next(piece) == BOOK_OK)
        opening.append(piece.begin(), piece.end());
    opening.erase(0, past_gutenberg_header(opening));
    if (opening.size() > OPENING_TEXT_CHARS) {
        std::size_t cut = opening.find_last_of(L" \n", OPENING_TEXT_CHARS);
        if (cut == std::wstring::npos || cut < OPENING_TEXT_CHARS / 2)
            cut = OPENING_TEXT_CHARS;
        // Never between the halves of a surrogate pair.
        if (cut > 0 && opening[cut - 1] >= 0xD800 && opening[cut - 1] <= 0xDBFF)
            --cut;
        opening.resize(cut);
        opening += L" \x2026";
    }
    return opening;
}

HRESULT read_cover(MobiBook& source, PreviewBook& book)
{
    ENSURE(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(&book.factory)));
    return decode_cover(book.factory.Get(), source, COVER_LIMIT, COVER_LIMIT, FitRule::shrink,
                        book.cover);
}

}  // namespace

std::wstring preview_text(UINT id)
{
    return ui_text(id);
}

HRESULT read_preview_book(IStream* stream, PreviewBook& book)
{
    book = PreviewBook();
    const ComPtr<MobiBook> source = new_book(stream);
    book.valid = source->is_valid();
    if (!book.valid)
        return FAILED(source->status) ? source->status : S_OK;

    book.encrypted = source->is_encrypted;
    book.title = source->title;
    // The authors alone: contributors are mostly the writing tool's credit
    // ("calibre (9.5.0) [http://calibre-ebook.com]"), and "Unknown" is
    // calibre's word for no author.
    std::vector<std::wstring> authors;
    for (const std::wstring& name : source->authors)
        if (name != L"Unknown")
            authors.push_back(name);
    book.creator = join_creators(authors, {});
    book.publisher = source->publisher;
    book.published = source->published_date;
    book.created = source->created_date;
    book.language = source->language;
    book.right_to_left = source->right_to_left;

    const ContainerInfo& info = source->container;
    book.text = as_paragraphs(description_of(info));
    // A published date that is no date (calibre's 0101-01-01 for none)
    // gives way to the date created.
    std::wstring published;
    if (!info.has_published ||
        !exth_date(info.record0.data() + info.published.offset, info.published.size, published))
        book.published.clear();
    book.description_size = book.text.size();
    const std::wstring opening = as_paragraphs(
        book.encrypted ? preview_text(IDS_PREVIEW_ENCRYPTED) : opening_text_of(stream, info));
    if (!book.text.empty() && !opening.empty())
        book.text += L"\r\n\r\n";
    book.text += opening;

    if (source->cover_size != 0 && FAILED(read_cover(*source.Get(), book)))
        book.cover.Reset();
    return S_OK;
}
