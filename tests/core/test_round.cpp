// Rounding to the nearest integer, halves to even; also built with x87 arithmetic (see
// tests/CMakeLists.txt), where sums keep extended precision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "common/Round.h"

using namespace sonabi;

TEST(Round, HalvesGoToEvenAndEveryRangeAgreesWithLlrint) {
    EXPECT_EQ(Round(2.5), 2);
    EXPECT_EQ(Round(3.5), 4);
    EXPECT_EQ(Round(-2.5), -2);
    EXPECT_EQ(Round(-0.5), 0);
    EXPECT_EQ(Round(2.7), 3);  // x87 arithmetic truncated this with the 1.5 x 2^52 trick
    EXPECT_EQ(Round(-2.7), -3);
    // Around the 2^51 switch, near halves, and far beyond it.
    std::vector<double> values = {0.0, -0.0, 0.49999999999999994, 1e300, -1e300};
    for (double edge : {0x1p51, 0x1p52, 1e15, 12345.5})
        for (int k = -16; k <= 16; ++k)
            values.insert(values.end(), {edge + k * 0.5, -edge - k * 0.5});
    std::srand(3);
    for (int i = 0; i < 100000; ++i)
        values.push_back((std::rand() - RAND_MAX / 2) / double(1 << (std::rand() % 20)));
    int mismatches = 0;
    for (double v : values) mismatches += Round(v) != std::llrint(v);
    EXPECT_EQ(mismatches, 0);
}
