// Run-time binding of the property-system library.
#pragma once

// Loads "propsys.dll" under the module's own activation context and binds its
// five functions into g_module; on any miss the library is freed again and
// g_module.propsys stays null.
void bind_property_system();

// Clears the five function pointers and frees the library.
void unbind_property_system();
