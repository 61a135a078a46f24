#include "server/settings.h"

#include <shlwapi.h>

#include <string>

#include "server/module.h"

DWORD read_option_value(const wchar_t* value_name, const wchar_t* key_path)
{
    DWORD type = REG_NONE;
    // 16 bytes: a DWORD, or up to seven UTF-16 units of text.
    WCHAR data[8] = {};
    DWORD size = sizeof(data);
    if (SHGetValueW(HKEY_CLASSES_ROOT, key_path, value_name, &type, data, &size) != ERROR_SUCCESS)
        return 0;
    switch (type) {
    case REG_DWORD:
        if (size != sizeof(DWORD))
            return 0;
        DWORD value;
        memcpy(&value, data, sizeof(value));
        return value;
    case REG_SZ:
        if (size >= sizeof(data))
            return 0;
        data[size / sizeof(WCHAR)] = L'\0';  // the stored text need not be terminated
        return static_cast<DWORD>(StrToIntW(data));
    default:
        return 0;
    }
}

void read_settings()
{
    g_module.debug = 0;
    g_module.use_mobi_thumbnail = 0;
    LPOLESTR clsid_text = nullptr;
    if (FAILED(StringFromCLSID(CLSID_Quirebinder, &clsid_text)))
        return;
    std::wstring key_path;
    try {
        key_path = std::wstring(L"CLSID\\") + clsid_text + L"\\Options";
    } catch (...) {
        CoTaskMemFree(clsid_text);
        return;
    }
    CoTaskMemFree(clsid_text);
    g_module.debug = read_option_value(L"Debug", key_path.c_str());
    g_module.use_mobi_thumbnail = read_option_value(L"UseMobiThumbnail", key_path.c_str());
}
