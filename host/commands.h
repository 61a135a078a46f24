// The host's commands; each returns its exit code and prints its own
// messages. main.cpp parses the arguments and holds the help texts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "host/arguments.h"
#include "host/exit_codes.h"

ExitCode run_thumbnail(const Arguments& args);
ExitCode run_properties(const Arguments& args);
ExitCode run_source(const Arguments& args);
ExitCode run_sheet(const Arguments& args);
ExitCode run_text(const Arguments& args);
ExitCode run_preview(const Arguments& args);

// Carries out the "properties" command of the files' context menu, as a
// right click in Explorer gives it. The files share one folder, as a
// selection does.
HRESULT show_properties(const std::vector<std::wstring>& paths);
ExitCode run_register(const Arguments& args);
ExitCode run_unregister(const Arguments& args);
ExitCode run_doctor(const Arguments& args);
