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
// PropVariantChangeType and PropVariantCompareEx from propsys.dll (every
// variant exports both). COM loads it with its own folder, system32,
// searched first, where the override refuses Wine's propsys.dll, so
// windowscodecs.dll loads only while a stand-in is already loaded: under
// "full" once the module has bound the library; under the other variants,
// where the module holds none, only after load_imaging_component(). Once
// loaded, windowscodecs.dll keeps that propsys.dll loaded for the rest of
// the process, so later variant switches fail (use_propsys_variant says so).
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

// Loads windowscodecs.dll for the rest of the process, bound to the stand-in
// that is loaded or, when none is, to the "full" one. For thumbnail tests
// under a variant that the module does not keep loaded; call it after the
// module's initialisation, as the stand-in stays loaded from then on.
// Adds a test failure and returns false when it cannot.
bool load_imaging_component();

// Objects of the loaded stand-in (stores, adapters, property sets and
// enumerators) not yet destroyed; -1 when no stand-in is loaded.
long stand_in_live_objects();
