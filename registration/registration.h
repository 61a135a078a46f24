// Writing and removing the registration table's entries for one module in
// one registry view, per machine or per user.
#pragma once

#include <windows.h>

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

// The machine of the Windows that runs the program (IMAGE_FILE_MACHINE_AMD64,
// _ARM64 or _I386), also for a program under WOW64 or emulation.
WORD windows_machine();

// True on 64-bit Windows, also in a 32-bit program under WOW64: the registry
// has two views there. 32-bit Windows has one, which both flags open.
bool is_64bit_windows();

// A shared slot found holding another program's value, left as it was.
struct KeptSlot {
    std::wstring path;   // e.g. "HKCU\Software\Classes\.mobi"
    std::wstring value;  // what it holds
};

// Writes every entry of the table for scope into view, with module_path as
// the module's path. A shared slot that holds another program's value is
// left alone, and so is, per user, an empty one whose machine-wide key holds
// another program's value (the user's would hide it); these are appended
// to kept. Stops at the first registry error and returns it.
HRESULT register_module(Scope scope, View view, const std::wstring& module_path,
                        std::vector<KeptSlot>* kept);

// Removes what register_module wrote, in reverse order: own values, shared
// slots that still hold our value, then keys left empty below each entry's
// parent. The entries both registry views share (ViewSharing::BothViews)
// are removed, from both views, only when the other view no longer
// registers the module; on 32-bit Windows, which has no other view, at
// once. Missing keys and values are not errors.
HRESULT unregister_module(Scope scope, View view);

// Tells the shell that file associations changed, so that it drops the
// thumbnails and handlers it cached.
void notify_association_change();
