// The library's extra export for the tests: how many of its objects (stores,
// adapters, property sets, enumerators) are alive.
#include "stand_in.h"

volatile LONG g_live_objects = 0;

extern "C" LONG WINAPI StandInLiveObjects()
{
    return InterlockedCompareExchange(&g_live_objects, 0, 0);
}
