// quirebinder doctor: the registration table held against the registry and
// the module files, and what turns the shell's features off outside our
// keys. Read-only: nothing here writes to the registry or to a file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "registration/registration.h"

// One row of the registration table where it lives in one view and scope.
struct RowState {
    View view;
    Scope scope;
    std::wstring path;        // "HKLM\Software\Classes\.mobi\ShellEx\{...}"
    std::wstring value_name;  // empty: the key's default value
    std::wstring expected;    // our value; for a module path, the module's
    // "ours", "missing", "other" (another value holds the slot), or "hidden"
    // (ours, but a value in the other scope is the one the shell reads).
    std::wstring state;
    std::wstring found;  // the value held, where there is one
    // For a value naming another program's class: its name, its module,
    // and whether that file exists.
    std::wstring other_name;
    std::wstring other_module;
    bool other_module_exists = false;
    bool needed = false;  // in the running host's view and per machine
    // A feature works only with the row ours (registration::Role::Feature);
    // false for a per-user class's server hiding ours, which the module
    // check holds against its file.
    bool decides = false;
};

struct Finding {
    bool ok;
    // A failed finding that stands in the way of the running host's view.
    bool blocking;
    std::wstring topic;   // "registry", "module", "class", "explorer", "policy", "index", "cache"
    std::wstring text;
    std::wstring advice;  // what to do; empty when ok
};

struct DoctorReport {
    std::vector<RowState> rows;
    std::vector<Finding> findings;

    void add(bool ok, bool blocking, const std::wstring& topic, const std::wstring& text,
             const std::wstring& advice = {})
    {
        findings.push_back({ok, !ok && blocking, topic, text, advice});
    }
};

const wchar_t* view_label(View view);

// The registry views this Windows has.
std::vector<View> windows_views();

// A module path as a registry value gives it (InprocServer32 may be
// REG_EXPAND_SZ, "%ProgramFiles%\..."), its variables expanded; and whether
// that file exists.
std::wstring expand_environment(const std::wstring& path);
bool module_file_exists(const std::wstring& path);

// Each row of the table in each view (per machine, and per user with user),
// with findings per view and scope (doctor_registry.cpp).
void check_registry(bool user, DoctorReport* report);
// The modules the rows name: file, machine, version, and the classes
// created through COM in the running host's view (doctor_modules.cpp).
void check_modules(DoctorReport* report);
// Explorer's icons-only setting, the thumbnail policies, the approval list
// where enforced, the indexer's reach and the thumbnail cache
// (doctor_settings.cpp).
void check_settings(DoctorReport* report);
