// Test programs run on a single-threaded apartment, as the shell's hosts do.
#include <gtest/gtest.h>
#include <objbase.h>

#include "tests/support/propsys_stand_in.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The complete stand-in property-system library unless a test chooses
    // another variant.
    use_propsys_variant("full");
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    if (SUCCEEDED(com))
        CoUninitialize();
    return result;
}
