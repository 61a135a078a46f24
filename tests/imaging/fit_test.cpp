// The sizes pictures are drawn at: the thumbnail's and the preview's rule,
// which never enlarges, the page's, which scales a small cover up to its
// box, and the stretched box of a thumbnail asked for without aspect flags.
#include <gtest/gtest.h>

#include "imaging/fit.h"

namespace {

TEST(PictureFit, EachRuleGivesItsSizeRoundedAndNeverWrapping)
{
    const struct {
        std::uint32_t width, height, box_width, box_height;
        FitRule rule;
        std::uint32_t fitted_width, fitted_height;
    } cases[] = {
        {600, 800, 256, 256, FitRule::shrink, 192, 256},
        {1000, 600, 256, 256, FitRule::shrink, 256, 154},
        {800, 1200, 256, 256, FitRule::shrink, 171, 256},
        {600, 800, 100, 100, FitRule::shrink, 75, 100},
        {512, 512, 256, 256, FitRule::shrink, 256, 256},
        // Never enlarged.
        {120, 160, 256, 256, FitRule::shrink, 120, 160},
        {100, 50, 256, 256, FitRule::shrink, 100, 50},
        // Never a side of 0.
        {1, 1000, 256, 256, FitRule::shrink, 1, 256},
        {1000, 1, 256, 256, FitRule::shrink, 256, 1},
        // Products beyond 32 bits.
        {1, 100000000, 256, 256, FitRule::shrink, 1, 256},
        {100000000, 1, 256, 256, FitRule::shrink, 256, 1},
        {3000000, 4000000, 2000, 2000, FitRule::shrink, 1500, 2000},
        {4000000, 3000000, 2000, 2000, FitRule::shrink, 2000, 1500},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 256, 256, FitRule::shrink, 256, 256},
        // The box itself, stretched or enlarged.
        {600, 800, 100, 100, FitRule::fill, 100, 100},
        {30, 20, 300, 200, FitRule::fill, 300, 200},
        // The page: into the control's box less its frame, small covers enlarged.
        {600, 800, 118, 158, FitRule::grow, 118, 157},
        {10, 10, 118, 158, FitRule::grow, 118, 118},
        {300, 200, 118, 158, FitRule::grow, 118, 79},
        {100, 300, 118, 158, FitRule::grow, 53, 158},
        {118, 50, 118, 158, FitRule::grow, 118, 50},
        {120, 160, 256, 256, FitRule::grow, 192, 256},
        {1, 100000000, 256, 256, FitRule::grow, 1, 256},
    };
    for (const auto& c : cases) {
        const PictureSize fitted = fit_picture(c.width, c.height, c.box_width, c.box_height, c.rule);
        EXPECT_EQ(c.fitted_width, fitted.width) << c.width << " x " << c.height << " rule " << int(c.rule);
        EXPECT_EQ(c.fitted_height, fitted.height) << c.width << " x " << c.height << " rule " << int(c.rule);
    }
}

}  // namespace
