#include <gtest/gtest.h>

#include "tavikfcu/TKString.h"

TEST(StringSmoke, SharesAndUnshares) {
    CTKString a(TKL("abc"));
    CTKString b = a;
    EXPECT_EQ((const TKWCHAR*)a, (const TKWCHAR*)b);
    EXPECT_EQ(a.GetAllocLength(), 64);
}
