#include "tests/bench/filter_cycle.h"

#include <filter.h>
#include <filterr.h>

#include "filter/text_filter.h"
#include "tests/support/module_under_test.h"

namespace {

constexpr ULONG BUFFER = 1000;

// A text chunk, read to its end; false when a call breaks the contract.
bool read_text(IFilter* filter)
{
    WCHAR buffer[BUFFER + 1];
    std::size_t total = 0;
    for (;;) {
        ULONG count = BUFFER;
        buffer[BUFFER] = 0xFFFF;
        const HRESULT hr = filter->GetText(&count, buffer);
        if (hr == FILTER_E_NO_MORE_TEXT)
            return false;  // only after the last text was given
        if ((hr != S_OK && hr != FILTER_S_LAST_TEXT) || count > BUFFER || count == 0 ||
            buffer[BUFFER] != 0xFFFF)
            return false;
        total += count;
        if (hr == FILTER_S_LAST_TEXT)
            return total <= CHUNK_TEXT_LIMIT && filter->GetText(&count, buffer) == FILTER_E_NO_MORE_TEXT;
    }
}

bool read_value(IFilter* filter)
{
    PROPVARIANT* value = nullptr;
    if (FAILED(filter->GetValue(&value)) || !value)
        return false;
    PropVariantClear(value);
    CoTaskMemFree(value);
    return filter->GetValue(&value) == FILTER_E_NO_MORE_VALUES;
}

}  // namespace

CycleResult filter_cycle(IStream* stream)
{
    ComPtr<IClassFactory> factory;
    ComPtr<IPersistStream> persist;
    ComPtr<IFilter> filter;
    if (FAILED(qb_module().DllGetClassObject(CLSID_QuirebinderFilter, IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&persist))) ||
        FAILED(persist.As(&filter)) || FAILED(persist->Load(stream)))
        return CycleResult::Broken;
    ULONG flags = 0;
    const HRESULT init = filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags);
    if (init == FILTER_E_UNKNOWNFORMAT || init == FILTER_E_PASSWORD)
        return CycleResult::Refused;
    if (init != S_OK)
        return CycleResult::Broken;
    ULONG last_id = 0;
    for (;;) {
        STAT_CHUNK stat = {};
        const HRESULT hr = filter->GetChunk(&stat);
        if (hr == FILTER_E_END_OF_CHUNKS)
            return CycleResult::Made;
        if (hr != S_OK || stat.idChunk <= last_id)
            return CycleResult::Broken;
        last_id = stat.idChunk;
        ULONG count = BUFFER;
        WCHAR unit[BUFFER];
        PROPVARIANT* value = nullptr;
        const bool kept = stat.flags == CHUNK_TEXT
                              ? filter->GetValue(&value) == FILTER_E_NO_VALUES && read_text(filter.Get())
                              : stat.flags == CHUNK_VALUE &&
                                    filter->GetText(&count, unit) == FILTER_E_NO_TEXT &&
                                    read_value(filter.Get());
        if (!kept)
            return CycleResult::Broken;
    }
}
