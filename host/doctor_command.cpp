// quirebinder doctor [--json] [--user]: what stands between the user and
// the covers, properties, search and preview, one line per finding, or one
// JSON object with every row and finding. Changes nothing.
#include <algorithm>

#include "host/commands.h"
#include "host/console.h"
#include "host/doctor.h"

namespace {

const wchar_t* json_bool(bool value)
{
    return value ? L"true" : L"false";
}

std::wstring row_json(const RowState& row)
{
    std::wstring json = L"{\"view\": " + json_string(view_label(row.view)) +
                        L", \"scope\": " +
                        json_string(row.scope == Scope::Machine ? L"machine" : L"user") +
                        L", \"path\": " + json_string(row.path) +
                        L", \"value\": " + json_string(row.value_name) +
                        L", \"expected\": " + json_string(row.expected) +
                        L", \"state\": " + json_string(row.state) +
                        L", \"found\": " + json_string(row.found) +
                        L", \"needed\": " + json_bool(row.needed) +
                        L", \"decides\": " + json_bool(row.decides);
    if (!row.other_name.empty() || !row.other_module.empty())
        json += L", \"other_class\": {\"name\": " + json_string(row.other_name) +
                L", \"module\": " + json_string(row.other_module) +
                L", \"module_exists\": " + json_bool(row.other_module_exists) + L"}";
    return json + L"}";
}

std::wstring finding_json(const Finding& finding)
{
    return L"{\"ok\": " + std::wstring(json_bool(finding.ok)) + L", \"blocking\": " +
           json_bool(finding.blocking) + L", \"topic\": " + json_string(finding.topic) +
           L", \"text\": " + json_string(finding.text) + L", \"advice\": " +
           json_string(finding.advice) + L"}";
}

void print_json(const DoctorReport& report, bool healthy)
{
    std::wstring json = L"{\"healthy\": " + std::wstring(json_bool(healthy)) +
                        L", \"host_view\": " + json_string(view_label(running_view())) +
                        L",\n \"findings\": [";
    for (std::size_t i = 0; i < report.findings.size(); ++i)
        json += (i ? L",\n  " : L"\n  ") + finding_json(report.findings[i]);
    json += L"],\n \"rows\": [";
    for (std::size_t i = 0; i < report.rows.size(); ++i)
        json += (i ? L",\n  " : L"\n  ") + row_json(report.rows[i]);
    print(json + L"]}");
}

void print_text(const DoctorReport& report, bool healthy)
{
    std::wstring text;
    for (const Finding& finding : report.findings) {
        text += std::wstring(finding.ok ? L"\u2713 " : L"\u2717 ") + finding.text + L"\n";
        if (!finding.advice.empty())
            text += L"    " + finding.advice + L"\n";
    }
    text += healthy ? L"Nothing stands in the way in the " + std::wstring(view_label(running_view())) +
                          L" view."
                    : L"Something stands in the way (the lines marked \u2717 above).";
    print(text);
}

}  // namespace

ExitCode run_doctor(const Arguments& args)
{
    if (!args.positional.empty()) {
        print_error(L"unexpected argument " + args.positional[0]);
        return EXIT_USAGE;
    }
    DoctorReport report;
    check_registry(args.has(L"--user"), &report);
    check_modules(&report);
    check_settings(&report);
    const bool healthy = std::none_of(report.findings.begin(), report.findings.end(),
                                      [](const Finding& finding) { return finding.blocking; });
    if (args.has(L"--json"))
        print_json(report, healthy);
    else
        print_text(report, healthy);
    return healthy ? EXIT_OK : EXIT_BLOCKED;
}
