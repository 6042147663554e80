// The analyzer and store tests over real queues need a Qt event loop on the main thread:
// the main queue of the Qt dispatcher runs there and the tests wait on it.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
