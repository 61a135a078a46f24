// The source command in a build without the property page's Save Source
// code: it says so and fails. source_command.cpp replaces this file once
// propertypage/save_source.h is part of the module's code.
#include "host/commands.h"
#include "host/console.h"

ExitCode run_source(const Arguments&)
{
    print_error(L"this build cannot save source archives");
    return EXIT_FAILED;
}
