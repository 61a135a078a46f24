// PSCreateMemoryPropertyStore: an in-memory IPropertyStore that keeps its
// own copies of the values, in the order in which the keys were first set.
#include "stand_in.h"

#include <vector>

namespace {

struct Entry {
    PROPERTYKEY key;
    PROPVARIANT value;
};

class MemoryPropertyStore final : public StandInObject<IPropertyStore> {
public:
    MemoryPropertyStore() = default;
    ~MemoryPropertyStore() override
    {
        for (Entry& entry : entries_)
            PropVariantClear(&entry.value);
    }

    STDMETHODIMP GetCount(DWORD* count) override
    {
        if (!count)
            return E_POINTER;
        *count = static_cast<DWORD>(entries_.size());
        return S_OK;
    }

    STDMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override
    {
        if (!key)
            return E_POINTER;
        if (index >= entries_.size()) {
            *key = PROPERTYKEY{};
            return E_INVALIDARG;
        }
        *key = entries_[index].key;
        return S_OK;
    }

    STDMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        PropVariantInit(value);
        const Entry* entry = find(key);
        return entry ? PropVariantCopy(value, &entry->value) : S_OK;
    }

    STDMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override
    {
        if (injected_failure("SetValue"))
            return STAND_IN_FAILURE;
        PROPVARIANT copy;
        PropVariantInit(&copy);
        const HRESULT hr = PropVariantCopy(&copy, &value);
        if (FAILED(hr))
            return hr;
        if (Entry* entry = find(key)) {
            PropVariantClear(&entry->value);
            entry->value = copy;
            return S_OK;
        }
        try {
            entries_.push_back(Entry{key, copy});
        } catch (...) {
            PropVariantClear(&copy);
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP Commit() override { return S_OK; }

private:
    Entry* find(const PROPERTYKEY& key)
    {
        for (Entry& entry : entries_)
            if (entry.key.pid == key.pid && entry.key.fmtid == key.fmtid)
                return &entry;
        return nullptr;
    }

    std::vector<Entry> entries_;
};

}  // namespace

PSSTDAPI PSCreateMemoryPropertyStore(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (injected_failure("PSCreateMemoryPropertyStore")) {
        *ppv = nullptr;
        return STAND_IN_FAILURE;
    }
    return hand_out(new (std::nothrow) MemoryPropertyStore, riid, ppv);
}
