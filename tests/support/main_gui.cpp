// Entry point of the window tests: a QApplication on the offscreen platform,
// so no test ever needs a display or waits on a dialog.
#include <gtest/gtest.h>

#include <QApplication>

#include "web/http.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  qm::HttpGlobalInit();
  return RUN_ALL_TESTS();
}
