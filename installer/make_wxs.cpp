// Generates the installer's WiX source from the registration table, and the
// list of registry values an installation must make, for the package test.
//
//   make_wxs wxs x64 VERSION MODULE64 MODULE32 HOST [TEXT...]  > quirebinder.wxs
//   make_wxs wxs x86 VERSION MODULE32 HOST [TEXT...]
//   make_wxs wxs arm64 VERSION MODULEARM64 MODULE32 HOST [TEXT...]
//   make_wxs tables x64|x86|arm64                     > tables.sql
//   make_wxs expect x64|x86|arm64                     > expected.txt
//
// A package is per machine, for x64 Windows (x64), for 32-bit Windows (x86)
// or for Windows on ARM (arm64). The x64 package puts both modules and the
// 64-bit host in "C:\Program Files\Quirebinder" and writes every entry of
// the table once in the 64-bit registry view for the 64-bit module and once
// in the 32-bit view for the 32-bit module; it refuses Windows on ARM, whose
// Explorer cannot load an x64 module. The arm64 package is the x64 one with
// the ARM64 module and host in the 64-bit view's place (Windows on ARM's
// 64-bit view, preview host AppIDs and folders are x64 Windows'); wixl
// knows no ARM64, so build_msi.sh marks the x64-shaped database it builds
// as an Arm64 package, which Windows Installer refuses elsewhere. The x86
// package puts the 32-bit module and the 32-bit host there and writes the
// table once, in the one view 32-bit Windows has; it refuses to install on
// 64-bit Windows. A newer version replaces an older one (a major upgrade:
// the old product is removed before the new one installs); the packages
// share the upgrade code, as one Windows runs only one of them. The TEXT
// files (the licences) are installed beside the modules. Each package
// refuses Windows older than Windows 7 (VersionNT 601), the oldest the
// modules run on. The product code and the size shown in Apps & Features
// are wixl variables (ProductCode, ArpSize) that build_msi.sh derives from
// the source and the files.
//
// A shared slot is written only where it is empty or already ours, and
// taken back only while it is still ours. The installer removes a
// component's registry values by name, whatever they hold, rewrites them on
// a repair, and evaluates a component's condition at its first install only
// (Wine's at every run). But it formats a value's key from properties at
// every run: so each shared slot is searched at every run (install, repair,
// removal), and where another program holds it, a property action points
// the slot's key at a key of our own below RELEASED, which is then written
// and removed instead of the slot. The whole of RELEASED goes with the
// package (a "-" row, which wixl cannot express: make_wxs tables).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "registration/registration_table.h"

using registration::Entry;
using registration::Hive;
using registration::Ownership;

namespace {

constexpr char UPGRADE_CODE[] = "{6C1E5B0A-3F0E-4C55-9C33-1D2B8A7E4F10}";
constexpr char PUBLISHER[] = "The Quirebinder developers";
// Apps & Features' help link.
constexpr char HELP_LINK[] = "https://github.com/quirebinder/quirebinder#readme";
// Windows 7 (docs/release.md); an installed product is always let be removed.
constexpr char MIN_WINDOWS[] =
    "    <Condition Message=\"Quirebinder needs Windows 7 or later.\">Installed OR VersionNT "
    "&gt;= 601</Condition>\n";
constexpr char INSTALL_FOLDER[] = "C:\\Program Files\\Quirebinder\\";
// Below HKLM in each view: where the slots another program holds point.
constexpr char RELEASED[] = "Software\\Quirebinder";
// The property actions run between the searches and the costing.
constexpr int FIRST_SLOT_ACTION = 400;

struct ViewModule {
    const char* suffix;  // names components and properties of the view
    bool win64;
    const char* file_id;  // the module's File Id
    const char* file_name;
};

const ViewModule VIEW64 = {"64", true, "quirebinder64.dll", "quirebinder64.dll"};
const ViewModule VIEW32 = {"32", false, "quirebinder32.dll", "quirebinder32.dll"};
const ViewModule VIEW_ARM64 = {"64", true, "quirebinderarm64.dll", "quirebinderarm64.dll"};

// The launch conditions: the x86 package would register the 32-bit module
// alone, with the system's preview host, on 64-bit Windows; the x64 package
// would register a module Explorer cannot load on Windows on ARM (found as
// the system reports it natively: its PROCESSOR_ARCHITECTURE, or the first
// processor's identifier, "ARMv8 ...").
constexpr char NOT_ON_WIN64[] =
    "    <Condition Message=\"This package is for 32-bit Windows; on 64-bit Windows install the "
    "x64 package.\">NOT VersionNT64</Condition>\n";
constexpr char NOT_ON_ARM[] =
    "    <Property Id=\"NATIVE_ARCHITECTURE\">\n"
    "      <RegistrySearch Id=\"Search_NATIVE_ARCHITECTURE\" Root=\"HKLM\" "
    "Key=\"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment\" "
    "Name=\"PROCESSOR_ARCHITECTURE\" Type=\"raw\" Win64=\"yes\"/>\n"
    "    </Property>\n"
    "    <Property Id=\"PROCESSOR_IDENTIFIER\">\n"
    "      <RegistrySearch Id=\"Search_PROCESSOR_IDENTIFIER\" Root=\"HKLM\" "
    "Key=\"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0\" Name=\"Identifier\" "
    "Type=\"raw\" Win64=\"yes\"/>\n"
    "    </Property>\n"
    "    <Condition Message=\"This package is for x64 Windows; on Windows on ARM install the "
    "arm64 package.\">NOT (NATIVE_ARCHITECTURE ~= &quot;ARM64&quot; OR PROCESSOR_IDENTIFIER "
    "~&lt;&lt; &quot;ARM&quot;)</Condition>\n";

// Windows Installer sets ProgramFiles64Folder on every 64-bit Windows; Wine
// 8's installer on ARM64 sets it only for x64 processors, and would install
// in "C:\Quirebinder". Where it is empty the 64-bit installer's own
// ProgramFiles folder is the one (set before the costing, just before the
// slots' property actions at FIRST_SLOT_ACTION).
constexpr char PROGRAM_FILES_FALLBACK[] =
    "    <CustomAction Id=\"ProgramFiles64Fallback\" Property=\"ProgramFiles64Folder\" "
    "Value=\"[%ProgramFiles]\\\"/>\n";
constexpr char PROGRAM_FILES_FALLBACK_ACTION[] =
    "      <Custom Action=\"ProgramFiles64Fallback\" Sequence=\"399\">NOT "
    "ProgramFiles64Folder</Custom>\n";

// What a package is made of for one Windows.
struct Package {
    registration::Machine system;
    std::vector<ViewModule> views;
    // Launch conditions and actions of the package's own, and where those
    // actions run.
    const char* prologue;
    const char* actions;
    // Arm64 packages must declare Windows Installer 5.0.
    int installer_version;
};

bool package_of(const std::string& name, Package* package)
{
    if (name == "x64")
        *package = {registration::Machine::X64, {VIEW64, VIEW32}, NOT_ON_ARM, "", 200};
    else if (name == "x86")
        *package = {registration::Machine::X86, {VIEW32}, NOT_ON_WIN64, "", 200};
    else if (name == "arm64")
        *package = {registration::Machine::X64, {VIEW_ARM64, VIEW32}, PROGRAM_FILES_FALLBACK,
                    PROGRAM_FILES_FALLBACK_ACTION, 500};
    else
        return false;
    return true;
}

std::string xml(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A file name as an installer identifier (letters, digits, '_' and '.').
std::string identifier(std::string name)
{
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.')
            c = '_';
    }
    return name;
}

// Square brackets and braces are formatting characters in an installer's
// registry data; [\[] and [\]] stand for them literally. Braces alone are
// literal unless they enclose brackets, so only brackets are escaped.
std::string formatted_literal(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '[')
            out += "[\\[]";
        else if (c == ']')
            out += "[\\]]";
        else
            out += c;
    }
    return out;
}

// A stable GUID for a component, derived from its name: two FNV-1a hashes
// shaped as a name-based UUID.
std::string component_guid(const std::string& name)
{
    auto fnv = [&](std::uint64_t hash) {
        for (const unsigned char c : name)
            hash = (hash ^ c) * 0x100000001B3ull;
        return hash;
    };
    std::uint64_t high = fnv(0xCBF29CE484222325ull);
    std::uint64_t low = fnv(0x84222325CBF29CE4ull);
    high = (high & ~0xF000ull) | 0x5000ull;                    // version 5
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;  // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(high >> 32),
                  unsigned(high >> 16 & 0xFFFF), unsigned(high & 0xFFFF),
                  unsigned(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

registration::Machine machine_of(const ViewModule& view)
{
    return view.win64 ? registration::Machine::X64 : registration::Machine::X86;
}

// Where an entry lives per machine, below HKLM.
std::string machine_path(const Entry& entry)
{
    return entry.hive == Hive::Classes ? "Software\\Classes\\" + entry.path() : entry.path();
}

std::string registry_value(const Entry& entry, const std::string& key, const std::string& data,
                           bool key_path)
{
    std::string line = "<RegistryValue Root=\"HKLM\" Key=\"" + xml(key) + "\"";
    if (!entry.value_name.empty())
        line += " Name=\"" + xml(entry.value_name) + "\"";
    line += " Value=\"" + xml(data) + "\" Type=\"string\"";
    if (key_path)
        line += " KeyPath=\"yes\"";
    return line + "/>";
}

// files: the modules of package.views in order, then the host, then the texts.
int write_wxs(const Package& package, const std::string& version,
              const std::vector<std::string>& files)
{
    const bool win64 = package.system == registration::Machine::X64;
    const std::vector<Entry>& entries = registration::entries();
    std::string properties;
    std::string actions = package.actions;
    std::size_t actions_count = 0;
    std::string components;
    std::vector<std::string> component_ids;

    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string name = i < package.views.size()       ? package.views[i].file_name
                                 : i == package.views.size() ? "quirebinder.exe"
                                                             : files[i];
        const std::string file_id = identifier(name);
        const std::string id = "File_" + file_id;
        component_ids.push_back(id);
        components += "          <Component Id=\"" + id + "\" Guid=\"" + component_guid(id) +
                      "\" Win64=\"" + (win64 ? "yes" : "no") + "\">\n            <File Id=\"" +
                      file_id + "\" Name=\"" + name + "\" Source=\"" + xml(files[i]) +
                      "\" KeyPath=\"yes\"/>\n" + "          </Component>\n";
    }

    for (const ViewModule& view : package.views) {
        const std::string win64 = view.win64 ? "yes" : "no";
        const std::string module = std::string("[#") + view.file_id + "]";
        const std::string own_id = std::string("Registry") + view.suffix;
        std::string own;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry& entry = entries[i];
            const std::string data =
                registration::expand(formatted_literal(entry.data), module, machine_of(view),
                                     package.system);
            if (entry.ownership == Ownership::Own) {
                own += "            " +
                       registry_value(entry, machine_path(entry), data, own.empty()) + "\n";
                continue;
            }
            const std::string index = std::string(view.suffix) + "_" + std::to_string(i);
            const std::string held = "HELD" + index;
            const std::string slot_key = "QB_SLOT" + index;
            properties += "    <Property Id=\"" + held + "\">\n      <RegistrySearch Id=\"Search_" +
                          held + "\" Root=\"HKLM\" Key=\"" + xml(machine_path(entry)) + "\"" +
                          " Name=\"" + xml(entry.value_name) + "\"" +
                          " Type=\"raw\" Win64=\"" + win64 + "\"/>\n    </Property>\n" +
                          "    <Property Id=\"" + slot_key + "\" Value=\"" +
                          xml(machine_path(entry)) + "\"/>\n" +
                          "    <CustomAction Id=\"Release" + index + "\" Property=\"" + slot_key +
                          "\" Value=\"" + xml(RELEASED) + "\\" + index + "\"/>\n";
            actions += "      <Custom Action=\"Release" + index + "\" Sequence=\"" +
                       std::to_string(FIRST_SLOT_ACTION + int(actions_count++)) + "\">" +
                       xml(held + " AND " + held + " <> \"" + entry.data + "\"") + "</Custom>\n";
            const std::string id = "Slot" + index;
            component_ids.push_back(id);
            components += "          <Component Id=\"" + id + "\" Guid=\"" + component_guid(id) +
                          "\" Win64=\"" + win64 + "\">\n            " +
                          registry_value(entry, "[" + slot_key + "]", data, true) +
                          "\n          </Component>\n";
        }
        component_ids.push_back(own_id);
        components += "          <Component Id=\"" + own_id + "\" Guid=\"" +
                      component_guid(own_id) + "\" Win64=\"" + win64 + "\">\n" + own +
                      "          </Component>\n";
    }

    std::string refs;
    for (const std::string& id : component_ids)
        refs += "      <ComponentRef Id=\"" + id + "\"/>\n";

    std::printf(
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<!-- Generated by make_wxs from the registration table. -->\n"
        "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
        "  <Product Id=\"$(var.ProductCode)\" Name=\"Quirebinder\" Language=\"1033\" "
        "Version=\"%s\"\n"
        "           Manufacturer=\"%s\" UpgradeCode=\"%s\">\n"
        "    <Package InstallerVersion=\"%d\" Compressed=\"yes\" InstallScope=\"perMachine\"\n"
        "             Description=\"Quirebinder Shell Extension\"/>\n"
        "    <Media Id=\"1\" Cabinet=\"quirebinder.cab\" EmbedCab=\"yes\"/>\n"
        "    <MajorUpgrade DowngradeErrorMessage=\"A newer Quirebinder is installed.\"/>\n"
        "    <Icon Id=\"quirebinder.ico\" SourceFile=\"quirebinder.ico\"/>\n"
        "    <Property Id=\"ARPPRODUCTICON\" Value=\"quirebinder.ico\"/>\n"
        "    <Property Id=\"ARPHELPLINK\" Value=\"%s\"/>\n"
        "    <Property Id=\"ARPSIZE\" Value=\"$(var.ArpSize)\"/>\n"
        "%s%s%s"
        "    <InstallExecuteSequence>\n%s    </InstallExecuteSequence>\n"
        "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n"
        "      <Directory Id=\"%s\">\n"
        "        <Directory Id=\"INSTALLFOLDER\" Name=\"Quirebinder\">\n"
        "%s"
        "        </Directory>\n"
        "      </Directory>\n"
        "    </Directory>\n"
        "    <Feature Id=\"Complete\" Level=\"1\">\n"
        "%s"
        "    </Feature>\n"
        "  </Product>\n"
        "</Wix>\n",
        version.c_str(), PUBLISHER, UPGRADE_CODE, package.installer_version, HELP_LINK,
        MIN_WINDOWS, package.prologue,
        properties.c_str(), actions.c_str(),
        win64 ? "ProgramFiles64Folder" : "ProgramFilesFolder", components.c_str(), refs.c_str());
    return 0;
}

// What wixl cannot express, as SQL for msibuild: in each view a row that
// removes RELEASED with the package ("-": the key and everything below it).
int write_tables(const Package& package)
{
    for (const ViewModule& view : package.views) {
        std::printf("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) "
                    "VALUES ('Released%s', 2, '%s', '-', 'Registry%s')\n",
                    view.suffix, RELEASED, view.suffix);
    }
    return 0;
}

// One line per value an installation makes on a machine where no other
// program holds a slot, tab-separated: view (64 or 32), key below HKLM,
// value name ("@" for the default value), data, and "shared", "own-value"
// (a value of ours in a key that stays) or "own-key" (a key of ours).
int write_expected(const Package& package)
{
    for (const ViewModule& view : package.views) {
        for (const Entry& entry : registration::entries()) {
            std::printf("%s\t%s\t%s\t%s\t%s\n", view.suffix, machine_path(entry).c_str(),
                        entry.value_name.empty() ? "@" : entry.value_name.c_str(),
                        registration::expand(entry.data,
                                             INSTALL_FOLDER + std::string(view.file_name),
                                             machine_of(view), package.system)
                            .c_str(),
                        entry.ownership == Ownership::Shared ? "shared"
                        : entry.key.empty()                  ? "own-value"
                                                             : "own-key");
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    Package package;
    if (args.size() >= 2 && package_of(args[1], &package)) {
        if (args[0] == "wxs" && args.size() >= 3 + package.views.size() + 1)
            return write_wxs(package, args[2],
                             std::vector<std::string>(args.begin() + 3, args.end()));
        if (args.size() == 2 && args[0] == "tables")
            return write_tables(package);
        if (args.size() == 2 && args[0] == "expect")
            return write_expected(package);
    }
    std::fprintf(stderr,
                 "usage: make_wxs wxs x64 VERSION MODULE64 MODULE32 HOST [TEXT...]\n"
                 "       make_wxs wxs x86 VERSION MODULE32 HOST [TEXT...]\n"
                 "       make_wxs wxs arm64 VERSION MODULEARM64 MODULE32 HOST [TEXT...]\n"
                 "       make_wxs tables x64|x86|arm64\n"
                 "       make_wxs expect x64|x86|arm64\n");
    return 1;
}
