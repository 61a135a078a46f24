// The registry entries that make the module known to the shell: one table,
// read by the command-line host (register, unregister) and by the generator
// of the installer package, so that the two can never disagree.
//
// Portable C++17 without platform headers: the generator is a Linux program.
#pragma once

#include <string>
#include <vector>

namespace registration {

constexpr char CLSID_TEXT[] = "{BA91BBAF-9243-49BD-B0DA-97BFC25EB976}";
constexpr char PROGID[] = "Quirebinder.Book";
// The search filter's class, and the persistent handler that names it for
// the indexer.
constexpr char FILTER_CLSID_TEXT[] = "{D79068A7-AE83-4512-BE48-2B9E29EBC8A8}";
constexpr char PERSISTENT_HANDLER_TEXT[] = "{A91E592F-7E48-4CD8-9CC0-0E2EA62F1DCD}";
// IFilter's IID: below a persistent handler it names the filter class.
constexpr char IFILTER_IID_TEXT[] = "{89BCB740-6119-101A-BCB7-00DD010655AF}";
// Stands for the full path of the registered module in an entry's data.
constexpr char MODULE_PATH[] = "<module>";

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

    // parent and key joined with a backslash.
    std::string path() const;
};

// The extensions the handler serves.
const std::vector<std::string>& extensions();

// Every entry, for every extension, in the order they are written. Removal
// walks them in reverse.
const std::vector<Entry>& entries();

// data with MODULE_PATH replaced by module_path.
std::string expand(const std::string& data, const std::string& module_path);

}  // namespace registration
