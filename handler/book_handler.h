// The shell handler: one object serving every shell interface of the module
// but the search filter's and the preview's, for the file (or the selected
// files) it was initialised with.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <thumbcache.h>
#include <propsys.h>
#include <wrl/client.h>

#include <vector>

#include "book/mobi_book.h"
#include "server/unique_handle.h"
#include "server/unknown.h"

class BookHandler : public CUnknown,
                    public IShellExtInit,
                    public IInitializeWithStream,
                    public IInitializeWithFile,
                    public IPersistFile,
                    public IShellPropSheetExt,
                    public IExtractImage,
                    public IThumbnailProvider,
                    public IPropertySetStorage,
                    public IPropertyStore,
                    public IPropertyStoreCapabilities {
public:
    BookHandler();
    ~BookHandler() override;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    FORWARD_IUNKNOWN_TO_CUNKNOWN()

    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY program_key) override;
    // IInitializeWithStream
    STDMETHODIMP Initialize(IStream* stream, DWORD mode) override;
    // IInitializeWithFile
    STDMETHODIMP Initialize(LPCWSTR path, DWORD mode) override;

    // IPersist
    STDMETHODIMP GetClassID(CLSID* class_id) override;
    // IPersistFile
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPCOLESTR path, DWORD mode) override;
    STDMETHODIMP Save(LPCOLESTR path, BOOL remember) override;
    STDMETHODIMP SaveCompleted(LPCOLESTR path) override;
    STDMETHODIMP GetCurFile(LPOLESTR* path) override;

    // IShellPropSheetExt
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE add_page, LPARAM param) override;
    STDMETHODIMP ReplacePage(EXPPS page_id, LPFNSVADDPROPSHEETPAGE replace_with,
                             LPARAM param) override;

    // IExtractImage
    STDMETHODIMP GetLocation(LPWSTR path, DWORD path_size, DWORD* priority, const SIZE* size,
                             DWORD colour_depth, DWORD* flags) override;
    STDMETHODIMP Extract(HBITMAP* bitmap) override;

    // IThumbnailProvider
    STDMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

    // IPropertySetStorage
    STDMETHODIMP Create(REFFMTID format_id, const CLSID* class_id, DWORD flags, DWORD mode,
                        IPropertyStorage** storage) override;
    STDMETHODIMP Open(REFFMTID format_id, DWORD mode, IPropertyStorage** storage) override;
    STDMETHODIMP Delete(REFFMTID format_id) override;
    STDMETHODIMP Enum(IEnumSTATPROPSETSTG** enumerator) override;

    // IPropertyStore
    STDMETHODIMP GetCount(DWORD* count) override;
    STDMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override;
    STDMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    STDMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    STDMETHODIMP Commit() override;

    // IPropertyStoreCapabilities
    STDMETHODIMP IsPropertyWritable(REFPROPERTYKEY key) override;

    // Destroys every book, last to first, and empties the list; the object
    // then counts as not initialised.
    void release_books();

    // Books of the files the object was initialised with, in the order
    // given. Empty: not initialised.
    std::vector<Microsoft::WRL::ComPtr<MobiBook>> books;
    // Thumbnail made by GetLocation and not yet handed over.
    UniqueBitmap extracted_bitmap;
    // In-memory store built from the first book, and the property set
    // adapter over it.
    Microsoft::WRL::ComPtr<IPropertyStore> property_store;
    Microsoft::WRL::ComPtr<IPropertySetStorage> property_set_storage;

private:
    // Appends a book made from a path or a stream; the caller catches.
    template <class Source>
    void add_book(Source source);
    // The single-book routes: refused when initialised or without a source.
    template <class Source>
    HRESULT initialize_with(Source source);

    // The first book, when the property system is bound and that book is
    // valid; null otherwise.
    MobiBook* property_book();
    // The first book, when it is valid and has a cover; null otherwise.
    MobiBook* cover_book();
    // Builds property_store from the first book if it is not built yet and,
    // with for_set_storage, the adapter over it. The store's author value is
    // the author list, or the single creator text when the store is first
    // built for the adapter. Fails with E_FAIL, unlogged, without a
    // property_book(); every other failure is logged where it happens.
    HRESULT ensure_property_store(bool for_set_storage);
};
