#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

// The window tests need one application object for the whole run; they run on
// Qt's offscreen platform, so no display is needed (also when the tests are
// only listed).
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
