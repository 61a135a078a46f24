// Writing and removing the registration table's entries for one module in
// one registry view, per machine or per user.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "registration/registration_table.h"

enum class Scope { Machine, User };
enum class View { Bits64, Bits32 };

// The registry root and the path below it where an entry lives for scope,
// or false where the scope holds no such entry (machine-only entries per
// user).
bool entry_location(const registration::Entry& entry, Scope scope, HKEY* root,
                    std::wstring* path);

// KEY_WOW64_64KEY or KEY_WOW64_32KEY.
REGSAM view_flag(View view);

// The view of this process: the 64-bit one for a 64-bit program, the 32-bit
// one for a 32-bit program (on 32-bit Windows the only one).
View running_view();

// The machine of the Windows that runs the program (IMAGE_FILE_MACHINE_AMD64,
// _ARM64 or _I386), also for a program under WOW64 or emulation.
WORD windows_machine();

// True on 64-bit Windows, also in a 32-bit program under WOW64: the registry
// has two views there. 32-bit Windows has one, which both flags open.
bool is_64bit_windows();

// The machine of the modules the programs of view load: in the 64-bit view
// the native one, IMAGE_FILE_MACHINE_AMD64, or _ARM64 on Windows on ARM
// (whose x64 programs read the same view), 0 on 32-bit Windows; in the
// 32-bit view _I386.
WORD view_module_machine(View view);

// The machine field of a PE file's header; 0 when the file is not one.
WORD pe_machine(const std::wstring& path);

// True when the file is a module of the machine view_module_machine gives.
bool module_fits_view(const std::wstring& path, View view);

// A registry value as read: present or not, its type, and its data in
// UTF-16 units (a string's terminators dropped; other types' bytes as they
// are, an odd last byte padded).
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::wstring data;

    bool is_text() const { return present && (type == REG_SZ || type == REG_EXPAND_SZ); }
};

// The one reader of values: of an open key, or of path below root in view.
RegistryValue read_registry_value(HKEY key, const std::wstring& name);
RegistryValue read_registry_value(HKEY root, const std::wstring& path, const std::wstring& name,
                                  View view);
// A REG_SZ or REG_EXPAND_SZ value's text; false, *text untouched, when the
// key or value is missing or of another type.
bool read_registry_text(HKEY root, const std::wstring& path, const std::wstring& name, View view,
                        std::wstring* text);
// A REG_DWORD's number, or a REG_SZ's of up to nine decimal digits; false,
// *number untouched, for anything else.
bool read_registry_number(HKEY root, const std::wstring& path, const std::wstring& name,
                          View view, DWORD* number);

// What a value holds, for a message: its text, or its type and, for a
// REG_DWORD, its number; empty when it is missing.
std::wstring value_label(const RegistryValue& value);

// Reads "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; false for any other text.
bool parse_guid(const std::wstring& text, GUID* guid);

// True when two values' texts hold the same data: GUIDs ("{...}") as GUIDs,
// whatever their case, other text ignoring case as the registry compares
// names (ProgIDs, property lists).
bool same_data(const std::wstring& a, const std::wstring& b);

// True when two module paths, as InprocServer32 gives them (environment
// variables expanded), name one file: the same full long path ignoring
// case, or, where both exist, the same file.
bool same_module_file(const std::wstring& a, const std::wstring& b);

// A shared slot found holding another program's value, left as it was.
struct KeptSlot {
    std::wstring path;   // e.g. "HKCU\Software\Classes\.mobi"
    std::wstring value;  // what it holds (value_label)
};

// Writes every entry of the table for scope into view, with module_path as
// the module's path. A shared slot that holds anything but our value (of
// any type; an empty string is free) is another program's and left alone,
// and so is, per user, a free one whose machine-wide key holds another
// program's value (the user's would hide it); these are appended to kept. Stops at the first registry error and returns it.
HRESULT register_module(Scope scope, View view, const std::wstring& module_path,
                        std::vector<KeptSlot>* kept);

// Removes what register_module wrote, in reverse order: own values, shared
// slots that still hold our value, then keys left empty below each entry's
// parent. The entries both registry views share (ViewSharing::BothViews)
// are removed, from both views, only when the other view no longer
// registers the module; on 32-bit Windows, which has no other view, at
// once. Missing keys and values are not errors.
HRESULT unregister_module(Scope scope, View view);

// What unregister_module_file answers where the view's classes name another
// module file: regsvr32 then reports the failure with this code.
constexpr HRESULT REGISTERED_ELSEWHERE = SELFREG_E_CLASS;

// unregister_module for the module file at module_path only: where a class
// of the view names another module file (same_module_file), changes
// nothing, gives that file in *registered and answers REGISTERED_ELSEWHERE.
// Where no class names a file, removes what is left, as unregister_module.
HRESULT unregister_module_file(Scope scope, View view, const std::wstring& module_path,
                               std::wstring* registered);

// Tells the shell that file associations changed, so that it drops the
// thumbnails and handlers it cached.
void notify_association_change();
