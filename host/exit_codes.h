// The host's exit codes, one per kind of failure a script may want to tell
// apart. "quirebinder --help" lists them.
#pragma once

enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,         // unknown command, bad or missing arguments
    EXIT_NO_FILE = 2,       // the book is missing or cannot be read
    EXIT_NOT_MOBI = 3,      // the file is not a MOBI book
    EXIT_NO_COVER = 4,      // the book has no cover image
    EXIT_NO_SOURCE = 5,     // the book has no embedded source archive
    EXIT_NO_MODULE = 6,     // the module cannot be loaded or its class created
    EXIT_REGISTRY = 7,      // a registry key cannot be written or removed
    EXIT_FAILED = 8,        // any other failure (handler call, output file)
    EXIT_ENCRYPTED = 9,     // the book is encrypted: its text cannot be read
    EXIT_BLOCKED = 10,      // doctor: something stands in the way of the shell's features
};
