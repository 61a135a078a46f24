// Run-time binding of the property-system library.
#pragma once

// Loads "propsys.dll" under the module's own activation context and binds its
// five functions into g_module; on any miss the library is freed again and
// g_module.propsys stays null.
void bind_property_system();

// Clears the five function pointers and frees the library.
void unbind_property_system();

// Keeps the bound library in the process for good. Called whenever an
// object that lives in it (a property set or an enumerator) is handed to a
// caller, who may release it after this module has freed the library.
void pin_property_system();
