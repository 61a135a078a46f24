// The handle holder: every handle it is given is let go exactly once,
// whichever way it leaves.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "server/unique_handle.h"

namespace {

std::vector<int> closed;

struct CountedTraits {
    using Type = int;
    static Type empty() { return -1; }
    static void close(Type handle) { closed.push_back(handle); }
};
using Counted = UniqueHandle<CountedTraits>;

TEST(UniqueHandle, LetsGoOfEachHandleOnce)
{
    const struct {
        const char* what;
        std::function<void()> run;
        std::vector<int> closed;
    } cases[] = {
        {"held to the end", [] { Counted held(1); }, {1}},
        {"empty", [] { Counted held; EXPECT_FALSE(held); }, {}},
        {"reset to another", [] { Counted held(1); held.reset(2); }, {1, 2}},
        {"released", [] { Counted held(1); EXPECT_EQ(1, held.release()); }, {}},
        {"written through out()", [] { Counted held(1); *held.out() = 2; }, {1, 2}},
        {"moved", [] { Counted held(1); Counted other(std::move(held)); EXPECT_FALSE(held); }, {1}},
        {"moved over another", [] { Counted held(1), other(2); other = std::move(held); }, {2, 1}},
    };
    for (const auto& c : cases) {
        closed.clear();
        c.run();
        EXPECT_EQ(c.closed, closed) << c.what;
    }
}

}  // namespace
