// The search filter: a book's title and authors as value chunks, then its
// text as text chunks of the full-text property, for the indexer. It reads
// the book through the stream it was loaded with and never writes.
#pragma once

#include <windows.h>
#include <filter.h>
#include <objidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "identity.h"
#include "server/unknown.h"

class StreamReader;
class TextReader;

// A text chunk holds at most this many UTF-16 code units (32 KiB).
constexpr std::size_t CHUNK_TEXT_LIMIT = 32 * 1024 / sizeof(WCHAR);

// Where the text's first limit code units are best cut into a chunk: after
// the last paragraph break in the closing quarter, else after the last
// sentence end there, else after the last space there, else at limit (one
// less rather than between the halves of a surrogate pair). text is longer
// than limit. Gives the cut and the break it makes (CHUNK_EOP, CHUNK_EOS,
// CHUNK_EOW or CHUNK_NO_BREAK).
std::size_t chunk_cut(const std::u16string& text, std::size_t limit, CHUNK_BREAKTYPE* kind);

class TextFilter : public CUnknown, public IFilter, public IPersistStream, public IPersistFile {
public:
    TextFilter();
    ~TextFilter() override;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    FORWARD_IUNKNOWN_TO_CUNKNOWN()

    // IFilter
    STDMETHODIMP Init(ULONG flags, ULONG attribute_count, const FULLPROPSPEC* attributes,
                      ULONG* out_flags) override;
    STDMETHODIMP GetChunk(STAT_CHUNK* stat) override;
    STDMETHODIMP GetText(ULONG* count, WCHAR* buffer) override;
    STDMETHODIMP GetValue(PROPVARIANT** value) override;
    STDMETHODIMP BindRegion(FILTERREGION region, REFIID riid, void** ppv) override;

    // IPersist, and IsDirty of both IPersistStream and IPersistFile
    STDMETHODIMP GetClassID(CLSID* class_id) override;
    STDMETHODIMP IsDirty() override;
    // IPersistStream
    STDMETHODIMP Load(IStream* stream) override;
    STDMETHODIMP Save(IStream* stream, BOOL clear_dirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    // IPersistFile
    STDMETHODIMP Load(LPCOLESTR path, DWORD mode) override;
    STDMETHODIMP Save(LPCOLESTR path, BOOL remember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR path) override;
    STDMETHODIMP GetCurFile(LPOLESTR* path) override;

private:
    enum class Current { none, value, text };

    // Forgets everything Init made; the loaded stream stays.
    void reset();
    // Init's work; the caller catches.
    HRESULT start(ULONG attribute_count, const FULLPROPSPEC* attributes);
    // The next text chunk into chunk_text_; false when the text has ended.
    bool next_text_chunk(CHUNK_BREAKTYPE* kind);

    // The book's bytes, as Load gave them.
    Microsoft::WRL::ComPtr<IStream> stream_;
    // Declared in this order so that the text reader goes first.
    std::unique_ptr<StreamReader> reader_;
    std::unique_ptr<TextReader> text_;

    bool started_;
    LCID locale_;
    std::wstring title_;
    std::vector<std::wstring> authors_;
    // The value chunks still to give (PKEY_Title, PKEY_Author), in order.
    std::vector<const PROPERTYKEY*> values_;
    std::size_t next_value_;
    bool want_text_;

    ULONG last_id_;
    Current current_;
    const PROPERTYKEY* value_key_;  // the current value chunk's property
    bool value_given_;
    std::u16string chunk_text_;     // the current text chunk
    std::size_t text_given_;        // code units of it handed out
    std::u16string pending_;        // text read and not yet in a chunk
    CHUNK_BREAKTYPE next_break_;    // the break before the next text chunk
    std::size_t text_total_;        // code units of text chunked so far
    bool end_logged_;
    HRESULT read_failure_;          // a read of the stream failed: GetChunk returns it
};
