// The handler object: construction, destruction, the interface map, the
// property page it adds and the operations it does not support.
#include "handler/book_handler.h"

#include <iterator>

#include "propertypage/property_page.h"
#include "server/com_boundary.h"
#include "server/log.h"
#include "server/module.h"

namespace {

bool property_system_bound() { return g_module.propsys != nullptr; }

// In the order requests are matched; IPersist and IPersistFile share one
// pointer. Anything else goes to CUnknown, which answers IUnknown only.
const InterfaceEntry interface_table[] = {
    {&__uuidof(IShellPropSheetExt), INTERFACE_OFFSET(BookHandler, IShellPropSheetExt),
     "IShellPropSheetExt", nullptr},
    {&__uuidof(IInitializeWithStream), INTERFACE_OFFSET(BookHandler, IInitializeWithStream),
     "IInitializeWithStream", nullptr},
    {&__uuidof(IInitializeWithFile), INTERFACE_OFFSET(BookHandler, IInitializeWithFile),
     "IInitializeWithFile", nullptr},
    {&__uuidof(IShellExtInit), INTERFACE_OFFSET(BookHandler, IShellExtInit), "IShellExtInit",
     nullptr},
    {&__uuidof(IPersist), INTERFACE_OFFSET(BookHandler, IPersistFile), "IPersist", nullptr},
    {&__uuidof(IPersistFile), INTERFACE_OFFSET(BookHandler, IPersistFile), "IPersistFile",
     nullptr},
    {&__uuidof(IExtractImage), INTERFACE_OFFSET(BookHandler, IExtractImage), "IExtractImage",
     nullptr},
    {&__uuidof(IThumbnailProvider), INTERFACE_OFFSET(BookHandler, IThumbnailProvider),
     "IThumbnailProvider", nullptr},
    {&__uuidof(IPropertyStore), INTERFACE_OFFSET(BookHandler, IPropertyStore), "IPropertyStore",
     nullptr},
    {&__uuidof(IPropertyStoreCapabilities),
     INTERFACE_OFFSET(BookHandler, IPropertyStoreCapabilities), "IPropertyStoreCapabilities",
     nullptr},
    {&__uuidof(IPropertySetStorage), INTERFACE_OFFSET(BookHandler, IPropertySetStorage),
     "IPropertySetStorage", property_system_bound},
};

}  // namespace

// The log names the handler by the product's name, as it always has.
BookHandler::BookHandler()
{
    trace_object(serial(), "Quirebinder");
}

BookHandler::~BookHandler()
{
    release_books();
    trace_object(serial(), "~Quirebinder");
    property_set_storage.Reset();
    property_store.Reset();
}

STDMETHODIMP BookHandler::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    return query_table(interface_table, std::size(interface_table), riid, ppv);
}

void BookHandler::release_books()
{
    while (!books.empty())
        books.pop_back();
}

STDMETHODIMP BookHandler::GetClassID(CLSID* class_id)
{
    trace_object(serial(), "GetClassID");
    if (!class_id)
        return E_POINTER;
    *class_id = CLSID_Quirebinder;
    return S_OK;
}

STDMETHODIMP BookHandler::IsDirty() { return E_NOTIMPL; }

STDMETHODIMP BookHandler::Save(LPCOLESTR, BOOL) { return E_NOTIMPL; }

STDMETHODIMP BookHandler::SaveCompleted(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP BookHandler::GetCurFile(LPOLESTR*) { return E_NOTIMPL; }

STDMETHODIMP BookHandler::AddPages(LPFNSVADDPROPSHEETPAGE add_page, LPARAM param)
{
    trace_object(serial(), "AddPages");
    if (books.empty())
        return S_FALSE;
    if (!add_page)
        return E_INVALIDARG;
    return guard_boundary(E_UNEXPECTED, [&] {
        return PropertyPage::add(books, static_cast<IShellPropSheetExt*>(this), add_page, param);
    });
}

STDMETHODIMP BookHandler::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) { return E_NOTIMPL; }
