// The registration table as data: the class, its approval, the file type's
// own ProgID, the search filter and its persistent handler, and per
// extension the handler slots of the shell and the indexer.
#include "installer/registration_table.h"

namespace registration {

namespace {

// A row of the table. In its texts "<clsid>" stands for the class, "<filter>"
// for the search filter's class, "<persistent>" for its persistent handler,
// "<ifilter>" for IFilter's IID, "<progid>" for the file type and "<ext>"
// for each extension in turn, giving one entry per extension.
struct Row {
    Hive hive;
    const char* parent;
    const char* key;
    const char* value_name;
    const char* data;
    Ownership ownership;
};

constexpr Row CLASS_ROWS[] = {
    {Hive::Classes, "CLSID", "<clsid>", "", "Quirebinder", Ownership::Own},
    {Hive::Classes, "CLSID", "<clsid>\\InprocServer32", "", MODULE_PATH, Ownership::Own},
    {Hive::Classes, "CLSID", "<clsid>\\InprocServer32", "ThreadingModel", "Apartment",
     Ownership::Own},
    {Hive::Machine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
     "", "<clsid>", "Quirebinder", Ownership::Own},
    // A file type of our own, taken only by extensions that have none. Wine's
    // Properties dialog finds sheet handlers only through the ProgID.
    {Hive::Classes, "", "<progid>", "", "MOBI e-book", Ownership::Own},
    {Hive::Classes, "", "<progid>\\shellex\\PropertySheetHandlers\\Quirebinder", "",
     "<clsid>", Ownership::Own},
    // The search filter, and the persistent handler through which the
    // indexer finds it.
    {Hive::Classes, "CLSID", "<filter>", "", "Quirebinder text filter", Ownership::Own},
    {Hive::Classes, "CLSID", "<filter>\\InprocServer32", "", MODULE_PATH, Ownership::Own},
    {Hive::Classes, "CLSID", "<filter>\\InprocServer32", "ThreadingModel", "Both",
     Ownership::Own},
    {Hive::Classes, "CLSID", "<persistent>", "", "Quirebinder persistent handler",
     Ownership::Own},
    {Hive::Classes, "CLSID", "<persistent>\\PersistentAddinsRegistered\\<ifilter>", "",
     "<filter>", Ownership::Own},
};

constexpr Row EXTENSION_ROWS[] = {
    {Hive::Classes, "", "<ext>", "", "<progid>", Ownership::Shared},
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
};

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string fill(const char* text, const std::string& extension)
{
    std::string result = replace_all(text, "<clsid>", CLSID_TEXT);
    result = replace_all(result, "<filter>", FILTER_CLSID_TEXT);
    result = replace_all(result, "<persistent>", PERSISTENT_HANDLER_TEXT);
    result = replace_all(result, "<ifilter>", IFILTER_IID_TEXT);
    result = replace_all(result, "<progid>", PROGID);
    return replace_all(result, "<ext>", extension);
}

Entry make_entry(const Row& row, const std::string& extension)
{
    return Entry{row.hive,           fill(row.parent, extension), fill(row.key, extension),
                 fill(row.value_name, extension), fill(row.data, extension), row.ownership};
}

}  // namespace

std::string Entry::path() const
{
    if (parent.empty())
        return key;
    return key.empty() ? parent : parent + "\\" + key;
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

std::string expand(const std::string& data, const std::string& module_path)
{
    return replace_all(data, MODULE_PATH, module_path);
}

}  // namespace registration
