// quirebinder register|unregister [--user] [--dll MODULE]: the registration
// table written or removed for the modules beside the host (the 64-bit one
// in the 64-bit view - on Windows on ARM the ARM64 one, since the views of
// x64 and ARM64 are one - the 32-bit one in the 32-bit view), or for the one
// module given, in the view its machine type asks for.
#include <windows.h>

#include <string>
#include <vector>

#include "host/book_check.h"
#include "host/commands.h"
#include "host/console.h"
#include "registration/registration.h"

namespace {

struct Module {
    std::wstring path;
    View view;
};

std::wstring host_folder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return L".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\'));
}

bool exists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The modules to act on; for register they must exist. False (after a
// message) when there are none or the one given is unusable.
bool choose_modules(const Arguments& args, bool must_exist, std::vector<Module>* modules)
{
    const std::wstring given = args.option(L"--dll");
    if (!given.empty()) {
        const std::wstring path = full_path(given);
        if (!exists(path)) {
            print_error(L"no such module: " + given);
            return false;
        }
        if (module_fits_view(path, View::Bits64)) {
            modules->push_back({path, View::Bits64});
        } else if (module_fits_view(path, View::Bits32)) {
            modules->push_back({path, View::Bits32});
        } else {
            print_error(L"not a module for this system: " + given);
            return false;
        }
        return true;
    }
    const std::wstring folder = host_folder();
    const WORD native = view_module_machine(View::Bits64);
    const Module beside[] = {
        {folder + (native == IMAGE_FILE_MACHINE_ARM64 ? L"\\quirebinderarm64.dll"
                                                      : L"\\quirebinder64.dll"),
         View::Bits64},
        {folder + L"\\quirebinder32.dll", View::Bits32}};
    for (const Module& module : beside) {
        if (module.view == View::Bits64 && native == 0)
            continue;
        if (!must_exist || exists(module.path))
            modules->push_back(module);
    }
    if (modules->empty()) {
        print_error(L"no module beside the host in " + folder + L"; give one with --dll");
        return false;
    }
    return true;
}

const wchar_t* view_name(View view)
{
    return view == View::Bits64 ? L"64-bit" : L"32-bit";
}

ExitCode run(const Arguments& args, bool registering)
{
    if (!args.positional.empty()) {
        print_error(L"unexpected argument " + args.positional[0]);
        return EXIT_USAGE;
    }
    const Scope scope = args.has(L"--user") ? Scope::User : Scope::Machine;
    std::vector<Module> modules;
    if (!choose_modules(args, registering, &modules))
        return registering ? EXIT_NO_MODULE : EXIT_USAGE;

    ExitCode result = EXIT_OK;
    for (const Module& module : modules) {
        std::vector<KeptSlot> kept;
        const HRESULT hr = registering ? register_module(scope, module.view, module.path, &kept)
                                       : unregister_module(scope, module.view);
        if (FAILED(hr)) {
            print_error(std::wstring(registering ? L"cannot register " : L"cannot unregister ") +
                        L"in the " + view_name(module.view) + L" registry: " + describe(hr) +
                        (hr == E_ACCESSDENIED && scope == Scope::Machine
                             ? L"; run as administrator or use --user"
                             : L""));
            result = EXIT_REGISTRY;
            continue;
        }
        for (const KeptSlot& slot : kept)
            print(L"Kept " + slot.path + L": another handler holds it (" + slot.value + L")");
        if (registering)
            print(L"Registered " + module.path + L" (" + view_name(module.view) + L", " +
                  (scope == Scope::User ? L"this user" : L"this machine") + L")");
        else
            print(std::wstring(L"Unregistered the ") + view_name(module.view) + L" module (" +
                  (scope == Scope::User ? L"this user" : L"this machine") + L")");
    }
    if (scope == Scope::User && registering)
        print(L"Per user: the property handler and the approval list are read from the "
              L"machine-wide keys only and were left out");
    notify_association_change();
    return result;
}

}  // namespace

ExitCode run_register(const Arguments& args)
{
    return run(args, true);
}

ExitCode run_unregister(const Arguments& args)
{
    return run(args, false);
}
