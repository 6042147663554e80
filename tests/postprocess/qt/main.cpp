// The refiner tests over real loopback sockets need a Qt event loop on the main thread:
// the Qt dispatcher's main queue runs there, and the HTTP client's network queue hands
// its outcomes to it.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
