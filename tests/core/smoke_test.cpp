#include <gtest/gtest.h>

#include "core/fmt.h"

TEST(Smoke, AberrReturnsOne) { EXPECT_EQ(aberr("%s", ""), 1); }
