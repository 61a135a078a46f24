// The filter object: construction, the interface map, and the persistence
// interfaces through which the indexer hands it a book. Loading only keeps
// the stream; Init reads it.
#include "filter/text_filter.h"

#include <shlwapi.h>

#include <iterator>

#include "book/stream_reader.h"
#include "text/text_reader.h"
#include "server/com_boundary.h"
#include "server/log.h"

namespace {

// In the order requests are matched; IPersist shares IPersistStream's
// pointer.
const InterfaceEntry interface_table[] = {
    {&__uuidof(IFilter), INTERFACE_OFFSET(TextFilter, IFilter), "IFilter", nullptr},
    {&__uuidof(IPersistStream), INTERFACE_OFFSET(TextFilter, IPersistStream), "IPersistStream",
     nullptr},
    {&__uuidof(IPersistFile), INTERFACE_OFFSET(TextFilter, IPersistFile), "IPersistFile",
     nullptr},
    {&__uuidof(IPersist), INTERFACE_OFFSET(TextFilter, IPersistStream), "IPersist", nullptr},
};

}  // namespace

TextFilter::TextFilter()
{
    trace_object(serial(), "TextFilter");
    reset();
}

TextFilter::~TextFilter()
{
    trace_object(serial(), "~TextFilter");
}

STDMETHODIMP TextFilter::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    return query_table(interface_table, std::size(interface_table), riid, ppv);
}

void TextFilter::reset()
{
    text_.reset();
    reader_.reset();
    started_ = false;
    locale_ = 0;
    title_.clear();
    authors_.clear();
    values_.clear();
    next_value_ = 0;
    want_text_ = false;
    last_id_ = 0;
    current_ = Current::none;
    value_key_ = nullptr;
    value_given_ = false;
    chunk_text_.clear();
    text_given_ = 0;
    pending_.clear();
    next_break_ = CHUNK_EOP;
    text_total_ = 0;
    end_logged_ = false;
    read_failure_ = S_OK;
}

STDMETHODIMP TextFilter::GetClassID(CLSID* class_id)
{
    if (!class_id)
        return E_POINTER;
    *class_id = CLSID_QuirebinderFilter;
    return S_OK;
}

// Nothing is ever changed, so nothing is ever to be saved.
STDMETHODIMP TextFilter::IsDirty() { return S_FALSE; }

STDMETHODIMP TextFilter::Load(IStream* stream)
{
    trace_object(serial(), "Load(IStream *)");
    if (!stream)
        return E_INVALIDARG;
    reset();
    stream_ = stream;
    return S_OK;
}

// The file is opened for reading only, whatever mode asks for, and shared
// with writers so that the indexer never blocks the book's owner.
STDMETHODIMP TextFilter::Load(LPCOLESTR path, DWORD)
{
    trace_object(serial(), "Load(LPCOLESTR, DWORD)");
    if (!path)
        return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IStream> stream;
    ENSURE(SHCreateStreamOnFileEx(path, STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                  FALSE, nullptr, &stream));
    return Load(stream.Get());
}

STDMETHODIMP TextFilter::Save(IStream*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP TextFilter::GetSizeMax(ULARGE_INTEGER*) { return E_NOTIMPL; }

STDMETHODIMP TextFilter::Save(LPCOLESTR, BOOL) { return E_NOTIMPL; }

STDMETHODIMP TextFilter::SaveCompleted(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP TextFilter::GetCurFile(LPOLESTR*) { return E_NOTIMPL; }

STDMETHODIMP TextFilter::BindRegion(FILTERREGION, REFIID, void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return E_NOTIMPL;
}
