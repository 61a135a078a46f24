// IFilter's chunks: the value chunks first, then the text cut into chunks
// of at most CHUNK_TEXT_LIMIT code units at the best break near the limit.
// Text is read from the book only as far as the next chunk needs.
#include "filter/text_filter.h"

#include <filterr.h>
#include <ntquery.h>
#include <propkey.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>

#include "text/text_reader.h"
#include "server/com_boundary.h"
#include "server/log.h"

namespace {

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Marks that end a sentence when a space follows, and those that end one
// on their own (ideographic full stop, fullwidth exclamation and question
// marks).
bool ends_sentence_before_space(char16_t c) { return c == u'.' || c == u'!' || c == u'?'; }
bool ends_sentence(char16_t c) { return c == 0x3002 || c == 0xFF01 || c == 0xFF1F; }

// A PROPVARIANT of the caller's, freed with its contents unless released.
class OwnedValue {
public:
    OwnedValue() : value_(static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT))))
    {
        if (value_)
            PropVariantInit(value_);
    }
    ~OwnedValue()
    {
        if (value_) {
            PropVariantClear(value_);
            CoTaskMemFree(value_);
        }
    }
    OwnedValue(const OwnedValue&) = delete;
    OwnedValue& operator=(const OwnedValue&) = delete;

    PROPVARIANT* get() const { return value_; }
    PROPVARIANT* release()
    {
        PROPVARIANT* value = value_;
        value_ = nullptr;
        return value;
    }

private:
    PROPVARIANT* value_;
};

HRESULT set_strings(PROPVARIANT* value, const std::vector<std::wstring>& texts)
{
    ENSURE_THAT(texts.size() <= ULONG_MAX / sizeof(LPWSTR), E_OUTOFMEMORY);
    const ULONG count = static_cast<ULONG>(texts.size());
    LPWSTR* elements = static_cast<LPWSTR*>(CoTaskMemAlloc(count * sizeof(LPWSTR)));
    ENSURE_THAT(elements, E_OUTOFMEMORY);
    std::memset(elements, 0, count * sizeof(LPWSTR));
    value->vt = VT_VECTOR | VT_LPWSTR;
    value->calpwstr.cElems = count;
    value->calpwstr.pElems = elements;
    for (ULONG i = 0; i < count; ++i)
        ENSURE(SHStrDupW(texts[i].c_str(), &elements[i]));
    return S_OK;
}

}  // namespace

std::size_t chunk_cut(const std::u16string& text, std::size_t limit, CHUNK_BREAKTYPE* kind)
{
    const std::size_t nearest = limit - limit / 4;
    for (std::size_t at = limit; at > nearest; --at) {
        if (text[at - 1] == u'\n') {
            *kind = CHUNK_EOP;
            return at;
        }
    }
    for (std::size_t at = limit; at > nearest; --at) {
        if (ends_sentence(text[at - 1]) ||
            (text[at - 1] == u' ' && at >= 2 && ends_sentence_before_space(text[at - 2]))) {
            *kind = CHUNK_EOS;
            return at;
        }
    }
    for (std::size_t at = limit; at > nearest; --at) {
        if (text[at - 1] == u' ') {
            *kind = CHUNK_EOW;
            return at;
        }
    }
    *kind = CHUNK_NO_BREAK;
    return is_high_surrogate(text[limit - 1]) ? limit - 1 : limit;
}

bool TextFilter::next_text_chunk(CHUNK_BREAKTYPE* kind)
{
    std::u16string piece;
    while (pending_.size() <= CHUNK_TEXT_LIMIT && text_->end() == TextEnd::none) {
        // A book that breaks the format ends its text there, and the text
        // before the break stands; a failed read is not the book's end; the
        // indexer is told, so that it reads the book again later.
        const book_status status = text_->next(piece);
        if (FAILED(status)) {
            read_failure_ = status;
            if (log_errors())
                debug_log("%04lu:GetChunk:read failed (0x%08lX) after %llu characters", serial(),
                          static_cast<unsigned long>(status), static_cast<unsigned long long>(text_total_));
            return false;
        }
        pending_ += piece;
    }
    if (pending_.empty()) {
        if (text_->end() == TextEnd::broken && SUCCEEDED(read_failure_) && !end_logged_ && log_errors()) {
            end_logged_ = true;
            debug_log("%04lu:GetChunk:text broken off after %llu characters", serial(),
                      static_cast<unsigned long long>(text_total_));
        }
        return false;
    }
    *kind = next_break_;
    std::size_t cut = pending_.size();
    if (cut > CHUNK_TEXT_LIMIT)
        cut = chunk_cut(pending_, CHUNK_TEXT_LIMIT, &next_break_);
    chunk_text_.assign(pending_, 0, cut);
    pending_.erase(0, cut);
    text_total_ += cut;
    return true;
}

STDMETHODIMP TextFilter::GetChunk(STAT_CHUNK* stat)
{
    if (!stat)
        return E_INVALIDARG;
    std::memset(stat, 0, sizeof(*stat));
    if (!started_)
        return E_UNEXPECTED;
    return guard_boundary(E_UNEXPECTED, [&]() -> HRESULT {
        current_ = Current::none;
        CHUNK_BREAKTYPE kind = CHUNK_EOS;
        const PROPERTYKEY* key = nullptr;
        if (next_value_ < values_.size()) {
            key = values_[next_value_++];
            value_key_ = key;
            value_given_ = false;
            current_ = Current::value;
            stat->flags = CHUNK_VALUE;
        } else if (want_text_ && next_text_chunk(&kind)) {
            static const PROPERTYKEY contents = {PSGUID_STORAGE, PID_STG_CONTENTS};
            key = &contents;
            text_given_ = 0;
            current_ = Current::text;
            stat->flags = CHUNK_TEXT;
        } else {
            chunk_text_.clear();
            pending_.clear();
            return FAILED(read_failure_) ? read_failure_ : FILTER_E_END_OF_CHUNKS;
        }
        stat->idChunk = ++last_id_;
        stat->breakType = kind;
        stat->locale = locale_;
        stat->attribute.guidPropSet = key->fmtid;
        stat->attribute.psProperty.ulKind = PRSPEC_PROPID;
        stat->attribute.psProperty.propid = key->pid;
        // Each chunk stands on its own: no chunk continues another.
        stat->idChunkSource = stat->idChunk;
        return S_OK;
    });
}

STDMETHODIMP TextFilter::GetText(ULONG* count, WCHAR* buffer)
{
    if (!count || !buffer)
        return E_INVALIDARG;
    if (current_ != Current::text) {
        *count = 0;
        return FILTER_E_NO_TEXT;
    }
    const std::size_t left = chunk_text_.size() - text_given_;
    if (left == 0) {
        *count = 0;
        return FILTER_E_NO_MORE_TEXT;
    }
    if (*count == 0)
        return E_INVALIDARG;
    std::size_t give = std::min<std::size_t>(*count, left);
    // A surrogate pair is not parted unless the buffer holds one unit only.
    if (give < left && give > 1 && is_high_surrogate(chunk_text_[text_given_ + give - 1]))
        --give;
    std::memcpy(buffer, chunk_text_.data() + text_given_, give * sizeof(WCHAR));
    text_given_ += give;
    *count = static_cast<ULONG>(give);
    return text_given_ == chunk_text_.size() ? FILTER_S_LAST_TEXT : S_OK;
}

STDMETHODIMP TextFilter::GetValue(PROPVARIANT** value)
{
    if (!value)
        return E_INVALIDARG;
    *value = nullptr;
    if (current_ != Current::value)
        return FILTER_E_NO_VALUES;
    if (value_given_)
        return FILTER_E_NO_MORE_VALUES;
    return guard_boundary(E_UNEXPECTED, [&] {
        OwnedValue made;
        ENSURE_THAT(made.get(), E_OUTOFMEMORY);
        if (IsEqualGUID(value_key_->fmtid, PKEY_Title.fmtid) && value_key_->pid == PKEY_Title.pid) {
            ENSURE(SHStrDupW(title_.c_str(), &made.get()->pwszVal));
            made.get()->vt = VT_LPWSTR;
        } else {
            RETURN_IF_FAILED(set_strings(made.get(), authors_));
        }
        value_given_ = true;
        *value = made.release();
        return S_OK;
    });
}
