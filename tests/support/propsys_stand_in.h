// Choosing which propsys.dll the module under test finds.
//
// The Windows tests run under Wine with WINEDLLOVERRIDES=propsys=n (see
// tests/wine/run.sh.in): Wine's own propsys.dll, whose
// InitPropVariantFromStringVector, PSGetNameFromPropertyKey and
// PSCreateAdapterFromPropertyStore abort the process, is then never loaded,
// because it is a Wine builtin and "n" allows native files only. The test
// tree builds a stand-in of its own (tests/propsys) in variants, each as
// propsys.dll in a folder of its own under the build tree:
//
//   "full"           all five functions the module binds
//   "no-initvector"  lacks InitPropVariantFromStringVector
//   "no-two"         lacks PSStringFromPropertyKey and
//                    InitPropVariantFromStringVector
//   "none"           an empty folder: LoadLibrary("propsys.dll") fails with
//                    ERROR_MOD_NOT_FOUND
//
// use_propsys_variant() makes the variant's folder the process's DLL
// directory (SetDllDirectoryW), which is searched after the program's own
// folder (which holds no propsys.dll) and before system32 (whose propsys.dll
// the override refuses). It acts on the next load only: a propsys.dll that
// is still loaded is what every later LoadLibrary gets, so switch between
// variants only while none is loaded, e.g. after the module has been
// finalised and has freed it.
//
// The imaging component: Wine's windowscodecs.dll imports
// PropVariantChangeType and PropVariantCompareEx from propsys.dll, so it
// loads only while a variant other than "none" is chosen (every variant
// exports these two), and once loaded it keeps that propsys.dll loaded for
// the rest of the process: variant switches after the first thumbnail or
// cover decoding of a process do not take effect (use_propsys_variant then
// fails the test). Under "none" the imaging component cannot load at all; a
// test of the module without the library that also needs thumbnails can
// switch to "full" after the module's initialisation has failed to find
// the library (the module loads it only when it initialises).
#pragma once

#include <string>

// Chooses the variant ("full", "no-initvector", "no-two" or "none") for the
// next load of "propsys.dll" in this process. Checks that the program's
// folder holds no propsys.dll, that no propsys.dll is loaded, and that a
// trial load finds the chosen file (or, for "none", nothing). On any
// failure it adds a test failure that says why and returns false.
bool use_propsys_variant(const char* variant);

// The folder of a variant, as a Windows path.
std::wstring propsys_variant_folder(const char* variant);

// Full path of the propsys.dll loaded in this process; empty when none is.
std::wstring loaded_propsys_path();

// Objects of the loaded stand-in (stores, adapters, property sets and
// enumerators) not yet destroyed; -1 when no stand-in is loaded.
long stand_in_live_objects();
