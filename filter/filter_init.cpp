// IFilter::Init: the book is analysed as the property handler analyses it
// (title, authors, encryption), then its text reader is opened. Each Init
// starts over from the stream's first byte.
#include "filter/text_filter.h"

#include <filterr.h>
#include <ntquery.h>
#include <propkey.h>

#include "book/mobi_book.h"
#include "book/stream_reader.h"
#include "text/text_reader.h"
#include "server/com_boundary.h"
#include "server/log.h"

namespace {

// The full-text property the text chunks carry.
const PROPERTYKEY CONTENTS_KEY = {PSGUID_STORAGE, PID_STG_CONTENTS};

// True when the caller asks for key: all properties when it names none.
bool wanted(const PROPERTYKEY& key, ULONG count, const FULLPROPSPEC* attributes)
{
    if (count == 0)
        return true;
    for (ULONG i = 0; i < count; ++i) {
        const FULLPROPSPEC& spec = attributes[i];
        if (IsEqualGUID(spec.guidPropSet, key.fmtid) && spec.psProperty.ulKind == PRSPEC_PROPID &&
            spec.psProperty.propid == key.pid)
            return true;
    }
    return false;
}

// Writers often store a neutral locale (a language alone: 0x0009 English,
// 0x0011 Japanese, 0x0004 Chinese); word breakers are registered for
// specific ones, so a neutral locale becomes its language's default
// specific locale (the name Windows gives an LCID unless neutral names are
// allowed). Specific locales, the neutral and invariant languages, and
// LCIDs with a sort order stay as they are.
LCID specific_locale(LCID lcid)
{
    const LANGID language = LANGIDFROMLCID(lcid);
    if (lcid > 0xFFFF || SUBLANGID(language) != SUBLANG_NEUTRAL || PRIMARYLANGID(language) == LANG_NEUTRAL ||
        PRIMARYLANGID(language) == LANG_INVARIANT)
        return lcid;
    WCHAR name[LOCALE_NAME_MAX_LENGTH];
    if (LCIDToLocaleName(lcid, name, LOCALE_NAME_MAX_LENGTH, 0) == 0)
        return lcid;
    const LCID specific = LocaleNameToLCID(name, 0);
    return specific != 0 && SUBLANGID(LANGIDFROMLCID(specific)) != SUBLANG_NEUTRAL ? specific : lcid;
}

}  // namespace

STDMETHODIMP TextFilter::Init(ULONG, ULONG attribute_count, const FULLPROPSPEC* attributes,
                              ULONG* out_flags)
{
    trace_object(serial(), "Init");
    if (out_flags)
        *out_flags = 0;  // no OLE properties for the indexer to read from the file
    if (attribute_count != 0 && !attributes)
        return E_INVALIDARG;
    return guard_boundary(E_UNEXPECTED, [&] {
        reset();
        const HRESULT hr = start(attribute_count, attributes);
        if (FAILED(hr))
            reset();
        return hr;
    });
}

HRESULT TextFilter::start(ULONG attribute_count, const FULLPROPSPEC* attributes)
{
    ENSURE_THAT(stream_, E_UNEXPECTED);  // Init before Load

    const Microsoft::WRL::ComPtr<MobiBook> book = new_book(stream_.Get());
    if (!book->is_valid())
        return FAILED(book->status) ? book->status : FILTER_E_UNKNOWNFORMAT;
    if (book->is_encrypted)
        return FILTER_E_PASSWORD;

    std::unique_ptr<StreamReader> reader(new StreamReader(stream_.Get()));
    std::unique_ptr<TextReader> text(new TextReader(*reader));
    const book_status opened = text->open(book->container);
    RETURN_IF_FAILED(opened);
    const TextEnd end = opened == BOOK_OK ? text->end() : TextEnd::unsupported;
    if (end == TextEnd::encrypted)
        return FILTER_E_PASSWORD;
    if ((end == TextEnd::unsupported || end == TextEnd::broken) && log_errors())
        debug_log("%04lu:Init:no text: %hs", serial(),
                  opened != BOOK_OK              ? "no text records"
                  : end == TextEnd::unsupported ? "a compression or code page not read"
                                                : "its FDST, HUFF or CDIC record breaks the format");

    locale_ = opened == BOOK_OK ? specific_locale(text->locale()) : LOCALE_NEUTRAL;
    title_ = book->title;
    authors_ = book->authors;
    if (!title_.empty() && wanted(PKEY_Title, attribute_count, attributes))
        values_.push_back(&PKEY_Title);
    if (!authors_.empty() && wanted(PKEY_Author, attribute_count, attributes))
        values_.push_back(&PKEY_Author);
    want_text_ = end == TextEnd::none && wanted(CONTENTS_KEY, attribute_count, attributes);
    reader_ = std::move(reader);
    text_ = std::move(text);
    started_ = true;
    return S_OK;
}
