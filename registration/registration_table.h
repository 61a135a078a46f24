// The registry entries that make the module known to the shell: one table,
// read by the command-line host (register, unregister) and by the generator
// of the installer package, so that the two can never disagree.
//
// Portable C++17 without platform headers: the generator is a Linux program.
#pragma once

#include <string>
#include <vector>

// The classes' texts: the handler's, the search filter's, the persistent
// handler that names the filter for the indexer, the preview handler's.
#include "identity.h"

namespace registration {

constexpr char PROGID[] = "Quirebinder.Book";
// IFilter's IID: below a persistent handler it names the filter class.
constexpr char IFILTER_IID_TEXT[] = "{89BCB740-6119-101A-BCB7-00DD010655AF}";
// Stands for the full path of the registered module in an entry's data.
constexpr char MODULE_PATH[] = "<module>";
// Stands for the AppID of the shell's preview host that runs the module: the
// system's own host for a module of the system's machine (a 64-bit module on
// 64-bit Windows, a 32-bit one on 32-bit Windows), the host under WOW64 for
// a 32-bit module on 64-bit Windows.
// On Windows on ARM the 64-bit host is an ARM64 program with the same
// AppID, so an ARM64 module takes Machine::X64's.
constexpr char PREVIEW_HOST[] = "<preview-host>";

// A module's machine, or the machine of the Windows it is registered on.
// 32-bit Windows has one registry view: there the view sharing below has
// nothing to share with, and every entry lives in that one view.
enum class Machine { X64, X86 };

// Where an entry lives.
enum class Hive {
    // Software\Classes: below HKLM per machine, below HKCU per user.
    Classes,
    // Below HKLM only: the property system and the approval list read no
    // per-user keys, so a per-user registration leaves these out.
    Machine,
};

// Who may hold an entry's value.
enum class Ownership {
    // Ours alone: written, and removed on unregistration.
    Own,
    // A slot another program may hold: written only where it is empty or
    // already ours, removed only where it is still ours, so that another
    // program's value is never replaced.
    Shared,
};

// Whether the 32-bit and the 64-bit registry views of 64-bit Windows hold
// one copy of an entry's key or one each (Windows 7 and later). The table
// decides it from where the entry lives (see view_sharing), so that a new
// row needs nothing for it.
enum class ViewSharing {
    // One copy per view: the class keys, so that each module registers in
    // its own view; and below HKLM outside the classes, where the 32-bit
    // shell reads its own view.
    PerView,
    // One key seen by both views: Software\Classes outside the class keys
    // (extensions, file types, their handler slots). Both modules rely on it,
    // so unregistering one keeps it while the other view still registers.
    BothViews,
};

// Whether a feature works only with an entry in place and ours, for the
// doctor, which fails its verdict on such an entry only.
enum class Role {
    // The class's server, a handler slot, a property handler: without it a
    // feature is off.
    Feature,
    // A name, a file type, a property list, the approval list (checked
    // where enforced): the features work without it, or with another
    // program's, as registration leaves it on purpose.
    Detail,
};

struct Entry {
    Hive hive;
    // Removal deletes keys left empty, from key upwards, but never parent
    // or anything above it.
    std::string parent;
    // Below parent; empty: the value lives in parent itself.
    std::string key;
    // Empty: the key's default value. All values are REG_SZ.
    std::string value_name;
    std::string data;
    Ownership ownership;
    ViewSharing views;
    Role role;

    // parent and key joined with a backslash.
    std::string path() const;
};

// The extensions the handler serves.
const std::vector<std::string>& extensions();

// Every entry, for every extension, in the order they are written. Removal
// walks them in reverse.
const std::vector<Entry>& entries();

// Where the views share a key below hive, by its path below the hive (below
// Software\Classes for Hive::Classes).
ViewSharing view_sharing(Hive hive, const std::string& path);

// data with MODULE_PATH replaced by module_path and PREVIEW_HOST by the
// preview host that runs a module of machine module on Windows of machine
// system.
std::string expand(const std::string& data, const std::string& module_path, Machine module,
                   Machine system);

}  // namespace registration
