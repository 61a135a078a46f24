// IShellPropSheetExt::AddPages: the "MOBI" page for a handler with books.
#include "handler/quirebinder.h"

#include "propertypage/property_page.h"
#include "server/com_boundary.h"
#include "server/log.h"

STDMETHODIMP Quirebinder::AddPages(LPFNSVADDPROPSHEETPAGE add_page, LPARAM param)
{
    trace_object(serial(), "AddPages");
    if (books.empty())
        return S_FALSE;
    if (!add_page)
        return E_INVALIDARG;
    return guard_boundary(E_UNEXPECTED, [&] { return add_property_page(*this, add_page, param); });
}
