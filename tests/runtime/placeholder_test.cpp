#include <gtest/gtest.h>
#include "quivox3/quivox3.h"
TEST(Runtime, Builds) { EXPECT_EQ(qvGetVerbose(), 3); }
