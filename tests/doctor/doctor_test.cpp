// quirebinder doctor over one table of registry states, in a prefix of its
// own (doctor reads the whole registry): what it finds, in --json and in
// text, and its exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "host/exit_codes.h"
#include "registration/registration.h"
#include "tests/host/host_run.h"
#include "tests/support/json_reader.h"

namespace {

const std::wstring OTHER_CLSID = L"{0D0C7012-0000-4000-8000-00000000AA01}";
const std::wstring AZW_THUMBNAIL =
    L"Software\\Classes\\.azw\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}";
const std::wstring MOBI_THUMBNAIL =
    L"Software\\Classes\\.mobi\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}";
const wchar_t ADVANCED[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced";
const std::wstring MOBI_ASSOCIATIONS = L"Software\\Classes\\SystemFileAssociations\\.mobi";

void set_text(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(root, path.c_str(), name, REG_SZ, text.c_str(),
                                             DWORD((text.size() + 1) * sizeof(wchar_t))));
}

void register_module_at(const std::wstring& path = host_folder() + L"\\" QB_MODULE_FILE)
{
    ASSERT_EQ(S_OK, register_module(Scope::Machine, View::Bits64, path, nullptr));
}

// The headers of a 32-bit (x86) PE file, all a machine check reads.
std::wstring x86_module()
{
    std::vector<std::uint8_t> pe(0x40 + 24, 0);
    pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x40;
    pe[0x40] = 'P', pe[0x41] = 'E', pe[0x44] = 0x4C, pe[0x45] = 0x01;
    const std::wstring path = scratch_folder() + L"\\quirebinder32.dll";
    write_file(path, pe);
    return path;
}

struct State {
    const char* name;
    std::function<void()> arrange;
    const wchar_t* args;
    DWORD exit_code;
    // A finding that must be there (topic and a piece of its text), in
    // place only when the exit code is 0; none when the topic is empty.
    const char* topic;
    const char* text;
    // Every row needed in the host's view is ours, but for the .azw
    // thumbnail slot where other_slot is set.
    bool registered;
    bool other_slot;
    // The finding is a note: failed, yet standing in no feature's way.
    bool note = false;
};

void PrintTo(const State& state, std::ostream* out)
{
    *out << state.name;
}

const State STATES[] = {
    {"NothingRegistered", [] {}, L"", EXIT_BLOCKED, "registry",
     "64-bit view, this machine: not registered", false, false},
    {"RegisteredAndWhole", [] { register_module_at(); }, L"", EXIT_OK, "class",
     "preview: created through COM", true, false},
    {"AnotherProgramsThumbnailHandler",
     [] {
         register_module_at();
         set_text(HKEY_LOCAL_MACHINE, AZW_THUMBNAIL, nullptr, OTHER_CLSID);
         set_text(HKEY_CLASSES_ROOT, L"CLSID\\" + OTHER_CLSID, nullptr, L"Other Thumbnails");
         set_text(HKEY_CLASSES_ROOT, L"CLSID\\" + OTHER_CLSID + L"\\InprocServer32", nullptr,
                  L"C:\\Other\\thumbs.dll");
     },
     L"", EXIT_BLOCKED, "registry",
     "held by another program: {0D0C7012-0000-4000-8000-00000000AA01} \"Other Thumbnails\" "
     "(C:\\Other\\thumbs.dll, missing)",
     true, true},
    {"IconsOnly",
     [] {
         register_module_at();
         const DWORD on = 1;
         RegSetKeyValueW(HKEY_CURRENT_USER, ADVANCED, L"IconsOnly", REG_DWORD, &on, sizeof(on));
     },
     L"", EXIT_BLOCKED, "explorer", "never thumbnails (IconsOnly)", true, false},
    {"ModuleFileDeleted",
     [] {
         const std::wstring copy = scratch_folder() + L"\\" QB_MODULE_FILE;
         CopyFileW((host_folder() + L"\\" QB_MODULE_FILE).c_str(), copy.c_str(), FALSE);
         register_module_at(copy);
         DeleteFileW(copy.c_str());
     },
     L"", EXIT_BLOCKED, "module", "quirebinder64.dll is missing", true, false},
    {"X86ModuleIn64BitView", [] { register_module_at(x86_module()); }, L"", EXIT_BLOCKED,
     "module", "is an x86 module; the 64-bit view's programs load x64 modules only", true, false},
    {"PerUserValueHidesTheMachines",
     [] {
         register_module_at();
         set_text(HKEY_CURRENT_USER, MOBI_THUMBNAIL, nullptr, OTHER_CLSID);
     },
     L" --user", EXIT_BLOCKED, "registry",
     ".mobi\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}: hidden by the per-user value "
     "{0D0C7012-0000-4000-8000-00000000AA01}",
     false, false},
    {"OurPersistentHandlerInLowerCase",
     [] {
         register_module_at();
         std::wstring lower = utf16(PERSISTENT_HANDLER_TEXT);
         CharLowerW(lower.data());
         set_text(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.azw\\PersistentHandler", nullptr, lower);
     },
     L"", EXIT_OK, "index", "the indexer reads .azw books", true, false},
    {"ThumbnailSlotHoldsANumber",
     [] {
         register_module_at();
         const DWORD number = 7;
         RegSetKeyValueW(HKEY_LOCAL_MACHINE, AZW_THUMBNAIL.c_str(), nullptr, REG_DWORD, &number,
                         sizeof(number));
     },
     L"", EXIT_BLOCKED, "registry", "held by another program: REG_DWORD 7", false, false},
    // Left to other programs on purpose: the file type (per machine and a
    // user's own) and the Details tab's list.
    {"AnotherProgramsFileTypeAndList",
     [] {
         set_text(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.mobi", nullptr, L"Other.Book");
         set_text(HKEY_LOCAL_MACHINE, MOBI_ASSOCIATIONS, L"FullDetails", L"prop:System.Title");
         register_module_at();
         set_text(HKEY_CURRENT_USER, L"Software\\Classes\\.mobi", nullptr, L"Other.UserBook");
     },
     L"", EXIT_OK, "registry", "[FullDetails]: held by another program: prop:System.Title", false,
     false, true},
    {"StalePerUserClass",
     [] {
         register_module_at();
         set_text(HKEY_CURRENT_USER,
                  L"Software\\Classes\\CLSID\\" + utf16(HANDLER_CLSID_TEXT) +
                      L"\\InprocServer32",
                  nullptr, L"C:\\Gone\\" QB_MODULE_FILE);
     },
     L"", EXIT_BLOCKED, "module", "the registered module C:\\Gone\\quirebinder64.dll is missing",
     false, false},
    {"StrayArgument", [] {}, L" stray", EXIT_USAGE, "", "", false, false},
};

class Doctor : public ::testing::TestWithParam<State> {
protected:
    // Every state starts from nothing of ours and nothing planted.
    void SetUp() override
    {
        if (sizeof(void*) != 8)
            GTEST_SKIP() << "the states are those of the 64-bit host and its view";
        for (const Scope scope : {Scope::Machine, Scope::User}) {
            for (const View view : {View::Bits64, View::Bits32})
                unregister_module(scope, view);
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.azw");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.mobi");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, MOBI_ASSOCIATIONS.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.mobi");
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + OTHER_CLSID).c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, ADVANCED, L"IconsOnly");
    }
    void TearDown() override { SetUp(); }
};

TEST_P(Doctor, FindsWhatStandsInTheWay)
{
    const State& state = GetParam();
    state.arrange();
    const std::wstring folder = scratch_folder();
    const HostRun json_run = run_host(std::wstring(L"doctor --json") + state.args, folder);
    const HostRun text_run = run_host(std::wstring(L"doctor") + state.args, folder);
    EXPECT_EQ(state.exit_code, json_run.exit_code) << json_run.err;
    EXPECT_EQ(state.exit_code, text_run.exit_code) << text_run.err;
    if (!*state.topic)
        return;

    Json report;
    ASSERT_TRUE(parse_json(json_run.out, &report)) << json_run.out;
    EXPECT_EQ(state.exit_code == EXIT_OK, report["healthy"].boolean);
    int matching = 0;
    std::size_t failed = 0;
    for (const Json& finding : report["findings"].items) {
        failed += !finding["ok"].boolean;
        // Only what fails in the host's own view stands in the way.
        EXPECT_FALSE(finding["ok"].boolean && finding["blocking"].boolean);
        if (finding["topic"].text == state.topic &&
            finding["text"].text.find(state.text) != std::string::npos) {
            ++matching;
            const bool ok = state.exit_code == EXIT_OK && !state.note;
            EXPECT_EQ(ok, finding["ok"].boolean);
            EXPECT_EQ(!ok && !state.note, finding["blocking"].boolean);
            EXPECT_EQ(ok, finding["advice"].text.empty());
        }
    }
    EXPECT_EQ(1, matching) << json_run.out;
    // The text gives the same findings, one line each.
    std::size_t crosses = 0;
    for (std::size_t at = text_run.out.find("\u2717 "); at != std::string::npos;
         at = text_run.out.find("\u2717 ", at + 1))
        crosses += at == 0 || text_run.out[at - 1] == '\n';
    EXPECT_EQ(failed, crosses) << text_run.out;

    // Every row of the table in both views (and per user, its rows of the
    // classes); another program's class is named with its module.
    std::size_t rows = registration::entries().size();
    if (std::wstring(state.args) == L" --user") {
        for (const registration::Entry& entry : registration::entries())
            rows += entry.hive == registration::Hive::Classes;
    }
    EXPECT_EQ(2 * rows, report["rows"].items.size());
    for (const Json& row : report["rows"].items) {
        if (!row["needed"].boolean || !state.registered)
            continue;
        if (state.other_slot && row["path"].text == "HKLM\\" + utf8(AZW_THUMBNAIL)) {
            EXPECT_EQ("other", row["state"].text);
            EXPECT_EQ("Other Thumbnails", row["other_class"]["name"].text);
            EXPECT_FALSE(row["other_class"]["module_exists"].boolean);
        } else {
            EXPECT_EQ("ours", row["state"].text) << row["path"].text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(States, Doctor, ::testing::ValuesIn(STATES),
                         [](const ::testing::TestParamInfo<State>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
