// PSCreateAdapterFromPropertyStore: a read-only IPropertySetStorage over a
// property store. Each format ID among the store's keys is one property set;
// its IPropertyStorage reads the store's values by property ID.
#include "stand_in.h"

#include <wrl/client.h>

#include <cstddef>
#include <memory>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// The keys of the store, in the store's order.
HRESULT store_keys(IPropertyStore* store, std::vector<PROPERTYKEY>& keys)
{
    DWORD count = 0;
    HRESULT hr = store->GetCount(&count);
    if (FAILED(hr))
        return hr;
    keys.reserve(count);
    for (DWORD index = 0; index < count; ++index) {
        PROPERTYKEY key = {};
        hr = store->GetAt(index, &key);
        if (FAILED(hr))
            return hr;
        keys.push_back(key);
    }
    return S_OK;
}

// The distinct format IDs of the store's keys, in order of first appearance.
HRESULT store_format_ids(IPropertyStore* store, std::vector<FMTID>& ids)
{
    std::vector<PROPERTYKEY> keys;
    const HRESULT hr = store_keys(store, keys);
    if (FAILED(hr))
        return hr;
    for (const PROPERTYKEY& key : keys) {
        bool seen = false;
        for (const FMTID& id : ids)
            seen = seen || id == key.fmtid;
        if (!seen)
            ids.push_back(key.fmtid);
    }
    return S_OK;
}

// An enumerator over a fixed list of items that hold no owned pointers;
// clones share the list.
template <class IEnum, class Item>
class SnapshotEnum final : public StandInObject<IEnum> {
public:
    using Items = std::vector<Item>;

    SnapshotEnum(std::shared_ptr<const Items> items, std::size_t next)
        : items_(std::move(items)), next_(next) {}

    STDMETHODIMP Next(ULONG wanted, Item* items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!items)
            return E_POINTER;
        if (!fetched && wanted != 1)
            return E_INVALIDARG;
        ULONG count = 0;
        while (count < wanted && next_ < items_->size())
            items[count++] = (*items_)[next_++];
        if (fetched)
            *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }

    STDMETHODIMP Skip(ULONG count) override
    {
        const std::size_t left = items_->size() - next_;
        if (count > left) {
            next_ = items_->size();
            return S_FALSE;
        }
        next_ += count;
        return S_OK;
    }

    STDMETHODIMP Reset() override
    {
        next_ = 0;
        return S_OK;
    }

    STDMETHODIMP Clone(IEnum** copy) override
    {
        if (!copy)
            return E_POINTER;
        return hand_out(new (std::nothrow) SnapshotEnum(items_, next_), __uuidof(IEnum),
                        reinterpret_cast<void**>(copy));
    }

private:
    std::shared_ptr<const Items> items_;
    std::size_t next_;
};

template <class IEnum, class Item>
HRESULT make_enum(std::vector<Item> items, IEnum** out)
{
    try {
        auto shared = std::make_shared<const std::vector<Item>>(std::move(items));
        return hand_out(new (std::nothrow) SnapshotEnum<IEnum, Item>(std::move(shared), 0),
                        __uuidof(IEnum), reinterpret_cast<void**>(out));
    } catch (...) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
}

// One property set: the store's properties of one format ID.
class PropertySetView final : public StandInObject<IPropertyStorage> {
public:
    PropertySetView(IPropertyStore* store, const FMTID& fmtid) : store_(store), fmtid_(fmtid) {}

    STDMETHODIMP ReadMultiple(ULONG count, const PROPSPEC specs[], PROPVARIANT values[]) override
    {
        if (count && (!specs || !values))
            return E_POINTER;
        for (ULONG i = 0; i < count; ++i)
            PropVariantInit(&values[i]);
        bool found = false;
        for (ULONG i = 0; i < count; ++i) {
            // Properties have no names here, so a name never matches.
            if (specs[i].ulKind != PRSPEC_PROPID)
                continue;
            const HRESULT hr = store_->GetValue(PROPERTYKEY{fmtid_, specs[i].propid}, &values[i]);
            if (FAILED(hr)) {
                for (ULONG j = 0; j <= i; ++j)
                    PropVariantClear(&values[j]);
                return hr;
            }
            found = found || values[i].vt != VT_EMPTY;
        }
        return found ? S_OK : S_FALSE;
    }

    STDMETHODIMP WriteMultiple(ULONG, const PROPSPEC[], const PROPVARIANT[], PROPID) override
    {
        return STG_E_ACCESSDENIED;
    }
    STDMETHODIMP DeleteMultiple(ULONG, const PROPSPEC[]) override { return STG_E_ACCESSDENIED; }

    STDMETHODIMP ReadPropertyNames(ULONG count, const PROPID ids[], LPOLESTR names[]) override
    {
        if (count && (!ids || !names))
            return E_POINTER;
        for (ULONG i = 0; i < count; ++i)
            names[i] = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP WritePropertyNames(ULONG, const PROPID[], const LPOLESTR[]) override
    {
        return STG_E_ACCESSDENIED;
    }
    STDMETHODIMP DeletePropertyNames(ULONG, const PROPID[]) override { return STG_E_ACCESSDENIED; }

    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }

    STDMETHODIMP Enum(IEnumSTATPROPSTG** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        try {
            std::vector<PROPERTYKEY> keys;
            HRESULT hr = store_keys(store_.Get(), keys);
            if (FAILED(hr))
                return hr;
            std::vector<STATPROPSTG> items;
            for (const PROPERTYKEY& key : keys) {
                if (key.fmtid != fmtid_)
                    continue;
                PROPVARIANT value;
                PropVariantInit(&value);
                hr = store_->GetValue(key, &value);
                if (FAILED(hr))
                    return hr;
                const VARTYPE type = value.vt;
                PropVariantClear(&value);
                items.push_back(STATPROPSTG{nullptr, key.pid, type});
            }
            return make_enum(std::move(items), out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override
    {
        return STG_E_ACCESSDENIED;
    }
    STDMETHODIMP SetClass(REFCLSID) override { return STG_E_ACCESSDENIED; }

    STDMETHODIMP Stat(STATPROPSETSTG* stat) override
    {
        if (!stat)
            return E_POINTER;
        *stat = STATPROPSETSTG{};
        stat->fmtid = fmtid_;
        stat->dwOSVersion = PROPSETHDR_OSVERSION_UNKNOWN;
        return S_OK;
    }

private:
    ComPtr<IPropertyStore> store_;
    const FMTID fmtid_;
};

class PropertySetStorageAdapter final : public StandInObject<IPropertySetStorage> {
public:
    explicit PropertySetStorageAdapter(IPropertyStore* store) : store_(store) {}

    STDMETHODIMP Create(REFFMTID, const CLSID*, DWORD, DWORD, IPropertyStorage** out) override
    {
        if (out)
            *out = nullptr;
        return STG_E_ACCESSDENIED;
    }

    STDMETHODIMP Open(REFFMTID fmtid, DWORD mode, IPropertyStorage** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (mode & (STGM_WRITE | STGM_READWRITE))
            return STG_E_ACCESSDENIED;
        try {
            std::vector<FMTID> ids;
            const HRESULT hr = store_format_ids(store_.Get(), ids);
            if (FAILED(hr))
                return hr;
            bool present = false;
            for (const FMTID& id : ids)
                present = present || id == fmtid;
            if (!present)
                return STG_E_FILENOTFOUND;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return hand_out(new (std::nothrow) PropertySetView(store_.Get(), fmtid),
                        IID_IPropertyStorage, reinterpret_cast<void**>(out));
    }

    STDMETHODIMP Delete(REFFMTID) override { return STG_E_ACCESSDENIED; }

    STDMETHODIMP Enum(IEnumSTATPROPSETSTG** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        try {
            std::vector<FMTID> ids;
            const HRESULT hr = store_format_ids(store_.Get(), ids);
            if (FAILED(hr))
                return hr;
            std::vector<STATPROPSETSTG> items;
            for (const FMTID& id : ids) {
                STATPROPSETSTG item = {};
                item.fmtid = id;
                item.dwOSVersion = PROPSETHDR_OSVERSION_UNKNOWN;
                items.push_back(item);
            }
            return make_enum(std::move(items), out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    ComPtr<IPropertyStore> store_;
};

}  // namespace

PSSTDAPI PSCreateAdapterFromPropertyStore(IPropertyStore* store, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!store)
        return E_INVALIDARG;
    if (injected_failure("PSCreateAdapterFromPropertyStore"))
        return STAND_IN_FAILURE;
    return hand_out(new (std::nothrow) PropertySetStorageAdapter(store), riid, ppv);
}
