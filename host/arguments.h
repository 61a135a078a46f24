// The arguments of one command: positional ones, options with a value
// ("--size 96", "-o out.png") and flags ("--json").
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct Arguments {
    std::vector<std::wstring> positional;
    std::map<std::wstring, std::wstring> options;
    std::set<std::wstring> flags;

    bool has(const wchar_t* flag) const { return flags.count(flag) != 0; }
    // The option's value, or fallback when it was not given.
    std::wstring option(const wchar_t* name, const std::wstring& fallback = {}) const;
};

// Splits args by the names of the options that take a value and of the
// flags the command knows. Anything else starting with '-' is an error,
// described in *error.
bool parse_arguments(const std::vector<std::wstring>& args,
                     const std::vector<std::wstring>& value_options,
                     const std::vector<std::wstring>& flag_names, Arguments* parsed,
                     std::wstring* error);
