// main() of the test programs that need no Qt application object.
#include <gtest/gtest.h>

#include "support/test_environment.h"

int main(int argc, char** argv) {
  vornel::test::PrepareTestEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
