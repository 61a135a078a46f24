// The registration table as data: the class, its approval, the file type's
// own ProgID, the search filter and its persistent handler, and per
// extension the handler slots of the shell and the indexer.
#include "registration/registration_table.h"

#include <cctype>

namespace registration {

namespace {

// A row of the table. In its texts "<clsid>" stands for the class, "<filter>"
// for the search filter's class, "<persistent>" for its persistent handler,
// "<ifilter>" for IFilter's IID, "<preview-clsid>" for the preview handler's
// class, "<progid>" for the file type and "<ext>" for each extension in
// turn, giving one entry per extension.
struct Row {
    Hive hive;
    const char* parent;
    const char* key;
    const char* value_name;
    const char* data;
    Ownership ownership;
    Role role = Role::Feature;
};

// The property lists, written as Windows writes its own defaults for every
// file (HKCR\*), with the book's properties first. FullDetails replaces
// the whole Details tab, so it keeps the file-system group and its rows;
// a "*" row shows only where the property has a value.
constexpr char PREVIEW_DETAILS[] =
    "prop:System.Title;System.Author;System.Language;System.Size;System.DateModified";
constexpr char FULL_DETAILS[] =
    "prop:System.PropGroup.Description;System.Title;System.Author;System.Language;"
    "System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;"
    "System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified;"
    "System.FileAttributes;*System.OfflineAvailability;*System.OfflineStatus;"
    "*System.SharedWith;*System.FileOwner;*System.ComputerName";
constexpr char INFO_TIP[] =
    "prop:System.Title;System.Author;System.ItemTypeText;System.Size;System.DateModified";
constexpr char PREVIEW_TITLE[] = "prop:System.Title;System.ItemTypeText";

constexpr Row CLASS_ROWS[] = {
    {Hive::Classes, "CLSID", "<clsid>", "", "Quirebinder", Ownership::Own, Role::Detail},
    {Hive::Classes, "CLSID", "<clsid>\\InprocServer32", "", MODULE_PATH, Ownership::Own},
    {Hive::Classes, "CLSID", "<clsid>\\InprocServer32", "ThreadingModel", "Apartment",
     Ownership::Own},
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
     "", "<clsid>", "Quirebinder", Ownership::Own, Role::Detail},
    // A file type of our own, taken only by extensions that have none. Wine's
    // Properties dialog finds sheet handlers only through the ProgID.
    {Hive::Classes, "", "<progid>", "", "MOBI e-book", Ownership::Own, Role::Detail},
    {Hive::Classes, "", "<progid>\\shellex\\PropertySheetHandlers\\Quirebinder", "",
     "<clsid>", Ownership::Own, Role::Detail},
    // The search filter, and the persistent handler through which the
    // indexer finds it.
    {Hive::Classes, "CLSID", "<filter>", "", "Quirebinder text filter", Ownership::Own,
     Role::Detail},
    {Hive::Classes, "CLSID", "<filter>\\InprocServer32", "", MODULE_PATH, Ownership::Own},
    {Hive::Classes, "CLSID", "<filter>\\InprocServer32", "ThreadingModel", "Both",
     Ownership::Own},
    {Hive::Classes, "CLSID", "<persistent>", "", "Quirebinder persistent handler",
     Ownership::Own, Role::Detail},
    {Hive::Classes, "CLSID", "<persistent>\\PersistentAddinsRegistered\\<ifilter>", "",
     "<filter>", Ownership::Own},
    // The preview handler, run by the shell's preview host.
    {Hive::Classes, "CLSID", "<preview-clsid>", "", "Quirebinder Preview", Ownership::Own,
     Role::Detail},
    {Hive::Classes, "CLSID", "<preview-clsid>", "AppID", PREVIEW_HOST, Ownership::Own},
    {Hive::Classes, "CLSID", "<preview-clsid>\\InprocServer32", "", MODULE_PATH, Ownership::Own},
    {Hive::Classes, "CLSID", "<preview-clsid>\\InprocServer32", "ThreadingModel", "Apartment",
     Ownership::Own},
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
     "", "<preview-clsid>", "Quirebinder Preview", Ownership::Own, Role::Detail},
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers", "",
     "<preview-clsid>", "Quirebinder Preview", Ownership::Own, Role::Detail},
};

constexpr Row EXTENSION_ROWS[] = {
    {Hive::Classes, "", "<ext>", "", "<progid>", Ownership::Shared, Role::Detail},
    // IThumbnailProvider
    {Hive::Classes, "", "<ext>\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}", "", "<clsid>",
     Ownership::Shared},
    // IExtractImage
    {Hive::Classes, "", "<ext>\\ShellEx\\{BB2E617C-0920-11D1-9A0B-00C04FC2D6C1}", "", "<clsid>",
     Ownership::Shared},
    {Hive::Classes, "SystemFileAssociations", "<ext>\\shellex\\PropertySheetHandlers\\Quirebinder",
     "", "<clsid>", Ownership::Own},
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers",
     "<ext>", "", "<clsid>", Ownership::Shared},
    {Hive::Classes, "", "<ext>\\PersistentHandler", "", "<persistent>", Ownership::Shared},
    // IPreviewHandler
    {Hive::Classes, "", "<ext>\\ShellEx\\{8895B1C6-B41F-4C1C-A562-0D564250836F}", "",
     "<preview-clsid>", Ownership::Shared},
    // What the Details pane, the tooltip and the preview's title show of the
    // properties; another program may have chosen its own lists.
    {Hive::Classes, "SystemFileAssociations", "<ext>", "PreviewDetails", PREVIEW_DETAILS,
     Ownership::Shared, Role::Detail},
    {Hive::Classes, "SystemFileAssociations", "<ext>", "FullDetails", FULL_DETAILS,
     Ownership::Shared, Role::Detail},
    {Hive::Classes, "SystemFileAssociations", "<ext>", "InfoTip", INFO_TIP, Ownership::Shared,
     Role::Detail},
    {Hive::Classes, "SystemFileAssociations", "<ext>", "PreviewTitle", PREVIEW_TITLE,
     Ownership::Shared, Role::Detail},
};

// Which keys the two registry views share on 64-bit Windows 7 and later,
// after Microsoft's list of keys affected by WOW64: the first row whose hive
// matches and whose prefix is the key or one of its parents decides.
struct ViewRule {
    Hive hive;
    const char* prefix;  // below the hive; empty: any key
    ViewSharing views;
};

constexpr ViewRule VIEW_RULES[] = {
    // The class keys and the COM keys beside them are per view.
    {Hive::Classes, "CLSID", ViewSharing::PerView},
    {Hive::Classes, "Interface", ViewSharing::PerView},
    {Hive::Classes, "DirectShow", ViewSharing::PerView},
    {Hive::Classes, "Media Type", ViewSharing::PerView},
    {Hive::Classes, "MediaFoundation", ViewSharing::PerView},
    // Everything else of the classes: extensions, file types, ProgIDs.
    {Hive::Classes, "", ViewSharing::BothViews},
    // HKLM outside the classes is per view (the approval list, the property
    // handlers), but for a few keys the shell reads from one place.
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
     ViewSharing::BothViews},
    {Hive::Machine, "", ViewSharing::PerView},
};

// True when prefix is path or one of its parents, ignoring case.
bool below(const std::string& path, const char* prefix)
{
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= path.size() || std::tolower(static_cast<unsigned char>(path[i])) !=
                                    std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return i == 0 || i == path.size() || path[i] == '\\';
}

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string fill(const char* text, const std::string& extension)
{
    std::string result = replace_all(text, "<clsid>", HANDLER_CLSID_TEXT);
    result = replace_all(result, "<filter>", FILTER_CLSID_TEXT);
    result = replace_all(result, "<persistent>", PERSISTENT_HANDLER_TEXT);
    result = replace_all(result, "<ifilter>", IFILTER_IID_TEXT);
    result = replace_all(result, "<preview-clsid>", PREVIEW_CLSID_TEXT);
    result = replace_all(result, "<progid>", PROGID);
    return replace_all(result, "<ext>", extension);
}

Entry make_entry(const Row& row, const std::string& extension)
{
    Entry entry{row.hive,
                fill(row.parent, extension),
                fill(row.key, extension),
                fill(row.value_name, extension),
                fill(row.data, extension),
                row.ownership,
                ViewSharing::PerView,
                row.role};
    entry.views = view_sharing(entry.hive, entry.path());
    return entry;
}

}  // namespace

std::string Entry::path() const
{
    if (parent.empty())
        return key;
    return key.empty() ? parent : parent + "\\" + key;
}

ViewSharing view_sharing(Hive hive, const std::string& path)
{
    for (const ViewRule& rule : VIEW_RULES) {
        if (rule.hive == hive && below(path, rule.prefix))
            return rule.views;
    }
    return ViewSharing::PerView;
}

const std::vector<std::string>& extensions()
{
    static const std::vector<std::string> list = {".mobi", ".azw", ".azw3"};
    return list;
}

const std::vector<Entry>& entries()
{
    static const std::vector<Entry> list = [] {
        std::vector<Entry> result;
        for (const Row& row : CLASS_ROWS)
            result.push_back(make_entry(row, ""));
        for (const std::string& extension : extensions()) {
            for (const Row& row : EXTENSION_ROWS)
                result.push_back(make_entry(row, extension));
        }
        return result;
    }();
    return list;
}

std::string expand(const std::string& data, const std::string& module_path, Machine module,
                   Machine system)
{
    // prevhost.exe of the system, or the one in SysWOW64, which only 64-bit
    // Windows has.
    const bool wow64 = module == Machine::X86 && system == Machine::X64;
    const char* host = wow64 ? "{534a1e02-d58f-44f0-b58b-36cbed287c7c}"
                             : "{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}";
    return replace_all(replace_all(data, MODULE_PATH, module_path), PREVIEW_HOST, host);
}

}  // namespace registration
