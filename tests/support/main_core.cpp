// Entry point of the headless test programs: one QCoreApplication for the
// whole run, and the HTTP client's global set-up before any thread starts.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "web/http.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  qm::HttpGlobalInit();
  return RUN_ALL_TESTS();
}
