// The spin of gearvane.exe runs max(1, n) iterations, whatever n is.
#include <gtest/gtest.h>

#include "app/win32/spin.h"

TEST(Spin, RunsAtLeastOneIteration)
{
    const struct {
        int32_t n;
        int32_t iterations;
    } cases[] = {{-2147483647 - 1, 1}, {-1, 1}, {0, 1}, {1, 1}, {2, 2}, {50000, 50000}, {1000000, 1000000}};
    for (const auto &c : cases) {
        Spin(c.n);
        EXPECT_EQ(SpinCounter, c.iterations) << "Spin(" << c.n << ")";
    }
}
