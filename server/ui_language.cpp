// Choosing the user interface's language and loading resources in it.
#include "server/ui_language.h"

#include <vector>

#include "server/module.h"

namespace {

constexpr LANGID ENGLISH_US = 0x0409;
// The module's dialog 102: every language the module speaks has one.
constexpr UINT LANGUAGE_MARKER_DIALOG = 102;

BOOL CALLBACK add_language(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list)
{
    try {
        reinterpret_cast<std::vector<LANGID>*>(list)->push_back(language);
        return TRUE;
    } catch (...) {
        return FALSE;  // out of memory: the languages found so far
    }
}

std::vector<LANGID> module_languages()
{
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(g_module.instance, MAKEINTRESOURCEW(5) /* RT_DIALOG */,
                           MAKEINTRESOURCEW(LANGUAGE_MARKER_DIALOG), add_language,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

// The regional variant that stands in for the other regions of a language,
// as Windows' language packs serve them: Latin American Spanish from
// Mexico's, Traditional Chinese for Hong Kong and Macao, Bosnian and the
// Croatian of Bosnia from Croatian, Serbian in any script from its Latin
// one, and each other region from the language's first variant.
LANGID stand_in(LANGID wanted)
{
    const WORD primary = PRIMARYLANGID(wanted), sub = SUBLANGID(wanted);
    switch (primary) {
    case LANG_ENGLISH:
        return sub == SUBLANG_ENGLISH_US || sub == SUBLANG_ENGLISH_CAN ? ENGLISH_US : 0x0809;
    case LANG_SPANISH:
        return sub == SUBLANG_SPANISH || sub == SUBLANG_SPANISH_MODERN ? 0x0C0A : 0x080A;
    case LANG_FRENCH:
        return sub == SUBLANG_FRENCH_CANADIAN ? 0x0C0C : 0x040C;
    case LANG_PORTUGUESE:
        return sub == SUBLANG_PORTUGUESE_BRAZILIAN ? 0x0416 : 0x0816;
    case LANG_CHINESE:
        return sub == SUBLANG_CHINESE_TRADITIONAL || sub == SUBLANG_CHINESE_HONGKONG ||
                       sub == SUBLANG_CHINESE_MACAU || wanted == 0x7C04
                   ? 0x0404
                   : 0x0804;
    case LANG_CROATIAN:  // also Serbian and Bosnian
        return sub == SUBLANG_CROATIAN_CROATIA || sub == SUBLANG_CROATIAN_BOSNIA_HERZEGOVINA_LATIN ||
                       sub == SUBLANG_BOSNIAN_BOSNIA_HERZEGOVINA_LATIN ||
                       sub == SUBLANG_BOSNIAN_BOSNIA_HERZEGOVINA_CYRILLIC
                   ? 0x041A
                   : 0x241A;
    default:
        return MAKELANGID(primary, SUBLANG_DEFAULT);
    }
}

// The thread's preferred UI languages, merged with the user's and the
// system's (Vista and later, bound at run time); before that, the user's.
std::vector<LANGID> preferred_languages()
{
    using GetPreferredFn = BOOL(WINAPI*)(DWORD, PULONG, PZZWSTR, PULONG);
    std::vector<LANGID> languages;
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto get_preferred = kernel ? reinterpret_cast<GetPreferredFn>(reinterpret_cast<void*>(
                                            GetProcAddress(kernel, "GetThreadPreferredUILanguages")))
                                      : nullptr;
    const DWORD flags = 0x4 /* MUI_LANGUAGE_ID */ | 0x10 /* MUI_MERGE_SYSTEM_FALLBACK */ |
                        0x20 /* MUI_MERGE_USER_FALLBACK */;
    ULONG count = 0, size = 0;
    if (get_preferred && get_preferred(flags, &count, nullptr, &size) && size > 0) {
        std::vector<wchar_t> list(size + 1, L'\0');
        if (get_preferred(flags, &count, list.data(), &size)) {
            for (const wchar_t* at = list.data(); *at; at += lstrlenW(at) + 1) {
                const LANGID language = LANGID(wcstoul(at, nullptr, 16));
                if (language != 0)
                    languages.push_back(language);
            }
        }
    }
    if (languages.empty())
        languages.push_back(GetUserDefaultUILanguage());
    return languages;
}

// The module's resource of type and id in language, locked; null without one.
const void* resource_in(LPCWSTR type, UINT id, LANGID language, DWORD* size = nullptr)
{
    const HRSRC found = FindResourceExW(g_module.instance, type, MAKEINTRESOURCEW(id), language);
    const HGLOBAL loaded = found ? LoadResource(g_module.instance, found) : nullptr;
    if (size)
        *size = found ? SizeofResource(g_module.instance, found) : 0;
    return loaded ? LockResource(loaded) : nullptr;
}

// Text id of the string table in language; false when it has none.
bool text_in(UINT id, LANGID language, std::wstring& text)
{
    DWORD size = 0;
    const auto* block = static_cast<const WCHAR*>(
        resource_in(MAKEINTRESOURCEW(6) /* RT_STRING */, id / 16 + 1, language, &size));
    if (!block)
        return false;
    // Sixteen counted texts; each a length, then that many characters.
    const WCHAR* const end = block + size / sizeof(WCHAR);
    for (UINT index = 0; block < end; ++index) {
        const std::size_t length = *block++;
        if (length > std::size_t(end - block))
            return false;
        if (index == id % 16) {
            text.assign(block, length);
            return length > 0;
        }
        block += length;
    }
    return false;
}

}  // namespace

LANGID nearest_ui_language(LANGID wanted)
{
    const std::vector<LANGID> languages = module_languages();
    const LANGID nearest = stand_in(wanted);
    LANGID same_language = 0;
    for (const LANGID language : languages) {
        if (language == wanted)
            return language;
        if (PRIMARYLANGID(language) == PRIMARYLANGID(wanted) &&
            (same_language == 0 || language == nearest))
            same_language = language;
    }
    return same_language;
}

LANGID ui_language()
{
    for (const LANGID wanted : preferred_languages())
        if (const LANGID language = nearest_ui_language(wanted))
            return language;
    return ENGLISH_US;
}

bool is_right_to_left_language(LANGID language)
{
    switch (PRIMARYLANGID(language)) {
    case LANG_ARABIC:
    case LANG_HEBREW:
    case LANG_FARSI:
    case LANG_URDU:
    case LANG_PASHTO:
    case LANG_SINDHI:
    case LANG_UIGHUR:
    case LANG_DIVEHI:
    case LANG_SYRIAC:
    case LANG_CENTRAL_KURDISH:
    case 0x3D:  // Yiddish
        return true;
    default:
        return false;
    }
}

std::wstring ui_text(UINT id)
{
    std::wstring text;
    if (!text_in(id, ui_language(), text))
        text_in(id, ENGLISH_US, text);
    return text;
}

const DLGTEMPLATE* ui_dialog(UINT id)
{
    const void* found = resource_in(MAKEINTRESOURCEW(5) /* RT_DIALOG */, id, ui_language());
    if (!found)
        found = resource_in(MAKEINTRESOURCEW(5), id, ENGLISH_US);
    return static_cast<const DLGTEMPLATE*>(found);
}
