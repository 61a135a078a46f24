#include "host/handler_source.h"

#include <shlwapi.h>
#include <propsys.h>
#include <wrl/client.h>

#include "host/book_check.h"
#include "host/console.h"
#include "server/last_error.h"
#include "server/module.h"

using Microsoft::WRL::ComPtr;

ExitCode create_handler(const std::wstring& module, REFIID riid, void** object, REFCLSID clsid)
{
    *object = nullptr;
    if (module.empty()) {
        const HRESULT hr =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
        if (FAILED(hr)) {
            print_error(L"cannot create the registered class (run \"quirebinder register\" "
                        L"or give --dll): " + describe(hr));
            return EXIT_NO_MODULE;
        }
        return EXIT_OK;
    }

    // The altered search order is defined for a full path only: a relative
    // one is made full here, against the current folder, as a user means it.
    const std::wstring path = full_path(module);
    const HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        print_error(L"cannot load module " + path + L": " + describe(last_error_or(E_FAIL)));
        return EXIT_NO_MODULE;
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get_class_object = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    if (!get_class_object) {
        print_error(L"not a COM module (no DllGetClassObject): " + path);
        return EXIT_NO_MODULE;
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = get_class_object(clsid, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, riid, object);
    if (FAILED(hr)) {
        print_error(L"module " + path + L" does not serve the class: " + describe(hr));
        return EXIT_NO_MODULE;
    }
    return EXIT_OK;
}

HRESULT open_read_only_stream(const std::wstring& path, IStream** stream)
{
    return SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                  FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream);
}

ExitCode initialize_with_file_stream(IUnknown* handler, const std::wstring& path)
{
    ComPtr<IInitializeWithStream> initialize;
    HRESULT hr = handler->QueryInterface(IID_PPV_ARGS(&initialize));
    ComPtr<IStream> stream;
    if (SUCCEEDED(hr))
        hr = open_read_only_stream(path, &stream);
    if (SUCCEEDED(hr))
        hr = initialize->Initialize(stream.Get(), STGM_READ);
    if (FAILED(hr)) {
        print_error(L"cannot initialise the handler with " + path + L": " + describe(hr));
        return EXIT_FAILED;
    }
    return EXIT_OK;
}
