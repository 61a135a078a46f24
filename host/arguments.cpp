#include "host/arguments.h"

#include <algorithm>

namespace {

bool contains(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::wstring Arguments::option(const wchar_t* name, const std::wstring& fallback) const
{
    const auto found = options.find(name);
    return found == options.end() ? fallback : found->second;
}

bool parse_arguments(const std::vector<std::wstring>& args,
                     const std::vector<std::wstring>& value_options,
                     const std::vector<std::wstring>& flag_names, Arguments* parsed,
                     std::wstring* error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg.size() < 2 || arg[0] != L'-') {
            parsed->positional.push_back(arg);
        } else if (contains(flag_names, arg)) {
            parsed->flags.insert(arg);
        } else if (contains(value_options, arg)) {
            if (i + 1 == args.size()) {
                *error = arg + L" needs a value";
                return false;
            }
            parsed->options[arg] = args[++i];
        } else {
            *error = L"unknown option " + arg;
            return false;
        }
    }
    return true;
}
