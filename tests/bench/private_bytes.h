// Private bytes of this process, as the soak samples them.
#pragma once

#include <windows.h>

// Committed memory of this process alone, in KiB. Wine answers 0 for the
// PrivateUsage counter; there the committed private regions of the address
// space are added up, which is what that counter counts.
SIZE_T private_kb();
