#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QStandardPaths>

// One application object for the whole run, on Qt's offscreen platform; the
// studio's settings go to the toolkit's test folder, never the user's.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  QApplication::setOrganizationName(QStringLiteral("tly-generator-tests"));
  QApplication::setApplicationName(QStringLiteral("studio"));
  return RUN_ALL_TESTS();
}
