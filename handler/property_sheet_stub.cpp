// IShellPropSheetExt::AddPages until the "MOBI" property page exists.
#include "handler/quirebinder.h"

#include "server/log.h"

STDMETHODIMP Quirebinder::AddPages(LPFNSVADDPROPSHEETPAGE, LPARAM)
{
    trace_object(serial(), "AddPages");
    return E_NOTIMPL;
}
