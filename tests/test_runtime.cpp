#include <gtest/gtest.h>

#include "CellForm.h"
#include "Runtime.h"

TEST(Generator, StartStateLeavesKnownSeed) {
  SetGeneratorStartState();
  EXPECT_EQ(RandSeed, 1251716356u);
}
