// The library's extra export for the tests: how many of its objects (stores,
// adapters, property sets, enumerators) are alive.
#include "stand_in.h"

#include <cstring>

volatile LONG g_live_objects = 0;

bool injected_failure(const char* function)
{
    char name[64] = {};
    const DWORD length = GetEnvironmentVariableA("QB_PROPSYS_FAIL", name, sizeof(name));
    return length != 0 && length < sizeof(name) && std::strcmp(name, function) == 0;
}

extern "C" LONG WINAPI StandInLiveObjects()
{
    return InterlockedCompareExchange(&g_live_objects, 0, 0);
}
