// Run-time binding of the property-system library: missing library, missing
// functions, and binding again after the module stopped.
#include <gtest/gtest.h>
#include <propsys.h>

#include "tests/support/module_under_test.h"
#include "tests/support/propsys_stand_in.h"

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override
    {
        clear_options();
        delete_log();
    }
    void TearDown() override
    {
        finalize_module_now();
        clear_options();
    }

    // Starts the module at the given level with the given library variant and
    // reports whether a handler offers IPropertySetStorage.
    static bool start_and_ask_for_property_sets(const char* variant, DWORD debug)
    {
        use_propsys_variant(variant);
        set_option_dword(L"Debug", debug);
        ComPtr<IPropertyStore> store = qb_create<IPropertyStore>();
        EXPECT_TRUE(store);  // offered whether or not the library is bound
        ComPtr<IPropertySetStorage> sets;
        const HRESULT hr = store ? store.As(&sets) : E_FAIL;
        return SUCCEEDED(hr) && sets;
    }

    static bool propsys_loaded() { return GetModuleHandleW(L"propsys.dll") != nullptr; }
};

TEST_F(Binding, CompleteLibraryIsBoundUntilTheModuleStopsAndBoundAgainAfterwards)
{
    EXPECT_TRUE(start_and_ask_for_property_sets("full", 1));
    EXPECT_TRUE(propsys_loaded());
    finalize_module_now();
    EXPECT_FALSE(propsys_loaded());
    EXPECT_TRUE(start_and_ask_for_property_sets("full", 1));
    EXPECT_TRUE(propsys_loaded());
    const std::vector<std::string> lines = log_messages();
    ASSERT_EQ(2u, lines.size());  // two banners, no binding complaint
    EXPECT_EQ(lines[0], lines[1]);
}

TEST_F(Binding, OneMissingFunctionIsLoggedAndTheLibraryFreed)
{
    EXPECT_FALSE(start_and_ask_for_property_sets("no-initvector", 1));
    EXPECT_FALSE(propsys_loaded());
    const std::vector<std::string> lines = log_messages();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Missing Function:propsys.dll:InitPropVariantFromStringVector", lines[1]);
}

TEST_F(Binding, EveryMissingFunctionGetsItsLineInLookUpOrder)
{
    EXPECT_FALSE(start_and_ask_for_property_sets("no-two", 1));
    const std::vector<std::string> lines = log_messages();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("Missing Function:propsys.dll:PSStringFromPropertyKey", lines[1]);
    EXPECT_EQ("Missing Function:propsys.dll:InitPropVariantFromStringVector", lines[2]);
}

TEST_F(Binding, MissingLibraryIsLoggedFromLevelOneAndSilentAtZero)
{
    EXPECT_FALSE(start_and_ask_for_property_sets("none", 1));
    std::vector<std::string> lines = log_messages();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Missing DLL:propsys.dll", lines[1]);

    finalize_module_now();
    delete_log();
    EXPECT_FALSE(start_and_ask_for_property_sets("none", 0));
    EXPECT_FALSE(log_exists());
}

TEST_F(Binding, MissingFunctionAfterARestartIsFoundOnTheNewLoad)
{
    EXPECT_FALSE(start_and_ask_for_property_sets("no-initvector", 1));
    finalize_module_now();
    EXPECT_TRUE(start_and_ask_for_property_sets("full", 1));
    finalize_module_now();
    EXPECT_FALSE(start_and_ask_for_property_sets("no-two", 1));
}

}  // namespace
