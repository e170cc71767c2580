// main() of the test programs that need a Qt application object: widgets (VORNEL_TEST_WIDGETS)
// or only an event loop.
#include <gtest/gtest.h>

#ifdef VORNEL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include "support/test_environment.h"

int main(int argc, char** argv) {
  vornel::test::PrepareTestEnvironment();
  TestApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
