// The host's commands; each returns its exit code and prints its own
// messages. main.cpp parses the arguments and holds the help texts.
#pragma once

#include "host/arguments.h"
#include "host/exit_codes.h"

ExitCode run_thumbnail(const Arguments& args);
ExitCode run_properties(const Arguments& args);
ExitCode run_source(const Arguments& args);
ExitCode run_sheet(const Arguments& args);
ExitCode run_register(const Arguments& args);
ExitCode run_unregister(const Arguments& args);
