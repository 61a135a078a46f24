// The four ways the shell hands the handler its file or files: a stream, a
// path, IPersistFile::Load and a data object holding a drop list. Books are
// only created here; nothing is read until a book is first used.
#include "handler/book_handler.h"

#include <shellapi.h>

#include <vector>

#include "server/com_boundary.h"
#include "server/log.h"

namespace {

const HRESULT ALREADY_INITIALIZED = HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);

// The longest path Windows can name, in characters; a longer name in a drop
// list is skipped like an unreadable one.
constexpr UINT MAX_NAME_LENGTH = 32767;

// A storage medium returned by GetData, released on every way out.
class MediumHolder {
public:
    MediumHolder() : medium_() {}
    ~MediumHolder()
    {
        if (medium_.tymed != TYMED_NULL)
            ReleaseStgMedium(&medium_);
    }
    MediumHolder(const MediumHolder&) = delete;
    MediumHolder& operator=(const MediumHolder&) = delete;

    STGMEDIUM* get() { return &medium_; }

private:
    STGMEDIUM medium_;
};

// Global memory locked for as long as the holder lives.
class GlobalLockHolder {
public:
    explicit GlobalLockHolder(HGLOBAL memory) : memory_(memory), data_(GlobalLock(memory)) {}
    ~GlobalLockHolder()
    {
        if (data_)
            GlobalUnlock(memory_);
    }
    GlobalLockHolder(const GlobalLockHolder&) = delete;
    GlobalLockHolder& operator=(const GlobalLockHolder&) = delete;

    void* data() const { return data_; }

private:
    HGLOBAL memory_;
    void* data_;
};

}  // namespace

template <class Source>
void BookHandler::add_book(Source source)
{
    books.push_back(new_book(source));
}

template <class Source>
HRESULT BookHandler::initialize_with(Source source)
{
    if (!books.empty())
        return ALREADY_INITIALIZED;
    if (!source)
        return E_INVALIDARG;
    return guard_boundary(E_FAIL, [&] {
        add_book(source);
        return S_OK;
    });
}

STDMETHODIMP BookHandler::Initialize(IStream* stream, DWORD mode)
{
    trace_object(serial(), "Initialize(IStream *, DWORD)");
    // Only exactly STGM_READWRITE is refused; every other mode is read.
    if (mode == STGM_READWRITE && books.empty())
        return STG_E_ACCESSDENIED;
    return initialize_with(stream);
}

STDMETHODIMP BookHandler::Initialize(LPCWSTR path, DWORD mode)
{
    trace_object(serial(), "Initialize(LPCWSTR, DWORD)");
    // Only exactly STGM_READWRITE is refused; every other mode is read.
    if (mode == STGM_READWRITE && books.empty())
        return STG_E_ACCESSDENIED;
    return initialize_with(path);
}

STDMETHODIMP BookHandler::Load(LPCOLESTR path, DWORD)
{
    trace_object(serial(), "Load");
    return initialize_with(path);
}

// The selection of a property sheet: one book per file of the drop list, in
// its order. Files whose names cannot be read are skipped.
STDMETHODIMP BookHandler::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY)
{
    trace_object(serial(), "Initialize(LPCITEMIDLIST, IDataObject *, HKEY)");
    if (!books.empty())
        return ALREADY_INITIALIZED;
    if (!data)
        return E_INVALIDARG;
    return guard_boundary(E_UNEXPECTED, [&] {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        MediumHolder medium;
        ENSURE(data->GetData(&format, medium.get()));
        if (medium.get()->tymed != TYMED_HGLOBAL)
            return E_FAIL;

        GlobalLockHolder lock(medium.get()->hGlobal);
        if (!lock.data())
            return E_OUTOFMEMORY;
        HDROP drop = static_cast<HDROP>(lock.data());

        const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        books.reserve(count);
        std::vector<wchar_t> name;
        for (UINT i = 0; i < count; ++i) {
            const UINT length = DragQueryFileW(drop, i, nullptr, 0);
            if (length == 0 || length > MAX_NAME_LENGTH)
                continue;
            name.assign(std::size_t(length) + 2, L'\0');
            if (DragQueryFileW(drop, i, name.data(), length + 1) != length)
                continue;
            name[length] = L'\0';
            add_book(name.data());
        }
        return books.empty() ? E_FAIL : S_OK;
    });
}
