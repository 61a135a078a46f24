// The handler object: construction, destruction, the interface map and the
// operations it does not support.
#include "handler/quirebinder.h"

#include <iterator>

#include "book/mobi_book.h"
#include "server/log.h"
#include "server/module.h"

namespace {

bool property_system_bound() { return g_module.propsys != nullptr; }

// In the order requests are matched; IPersist and IPersistFile share one
// pointer. Anything else goes to CUnknown, which answers IUnknown only.
const InterfaceEntry interface_table[] = {
    {&__uuidof(IShellPropSheetExt), INTERFACE_OFFSET(Quirebinder, IShellPropSheetExt),
     "IShellPropSheetExt", nullptr},
    {&__uuidof(IInitializeWithStream), INTERFACE_OFFSET(Quirebinder, IInitializeWithStream),
     "IInitializeWithStream", nullptr},
    {&__uuidof(IInitializeWithFile), INTERFACE_OFFSET(Quirebinder, IInitializeWithFile),
     "IInitializeWithFile", nullptr},
    {&__uuidof(IShellExtInit), INTERFACE_OFFSET(Quirebinder, IShellExtInit), "IShellExtInit",
     nullptr},
    {&__uuidof(IPersist), INTERFACE_OFFSET(Quirebinder, IPersistFile), "IPersist", nullptr},
    {&__uuidof(IPersistFile), INTERFACE_OFFSET(Quirebinder, IPersistFile), "IPersistFile",
     nullptr},
    {&__uuidof(IExtractImage), INTERFACE_OFFSET(Quirebinder, IExtractImage), "IExtractImage",
     nullptr},
    {&__uuidof(IThumbnailProvider), INTERFACE_OFFSET(Quirebinder, IThumbnailProvider),
     "IThumbnailProvider", nullptr},
    {&__uuidof(IPropertyStore), INTERFACE_OFFSET(Quirebinder, IPropertyStore), "IPropertyStore",
     nullptr},
    {&__uuidof(IPropertyStoreCapabilities),
     INTERFACE_OFFSET(Quirebinder, IPropertyStoreCapabilities), "IPropertyStoreCapabilities",
     nullptr},
    {&__uuidof(IPropertySetStorage), INTERFACE_OFFSET(Quirebinder, IPropertySetStorage),
     "IPropertySetStorage", property_system_bound},
};

}  // namespace

Quirebinder::Quirebinder()
    : current_book(0),
      page_window(nullptr),
      initial_cover_image(nullptr),
      extracted_bitmap(nullptr)
{
    trace_object(serial(), "Quirebinder");
}

Quirebinder::~Quirebinder()
{
    release_books();
    if (extracted_bitmap) {
        DeleteObject(extracted_bitmap);
        extracted_bitmap = nullptr;
    }
    trace_object(serial(), "~Quirebinder");
    property_set_storage.Reset();
    property_store.Reset();
}

STDMETHODIMP Quirebinder::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    return query_table(interface_table, std::size(interface_table), riid, ppv);
}

void Quirebinder::release_books()
{
    for (auto book = books.rbegin(); book != books.rend(); ++book)
        delete *book;
    books.clear();
}

STDMETHODIMP Quirebinder::GetClassID(CLSID* class_id)
{
    trace_object(serial(), "GetClassID");
    if (!class_id)
        return E_POINTER;
    *class_id = CLSID_Quirebinder;
    return S_OK;
}

STDMETHODIMP Quirebinder::IsDirty() { return E_NOTIMPL; }

STDMETHODIMP Quirebinder::Save(LPCOLESTR, BOOL) { return E_NOTIMPL; }

STDMETHODIMP Quirebinder::SaveCompleted(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP Quirebinder::GetCurFile(LPOLESTR*) { return E_NOTIMPL; }

STDMETHODIMP Quirebinder::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }
