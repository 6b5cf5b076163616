// qmcrawl: the crawler's window.
#include <QApplication>

#include "ui/frm_main.h"
#include "web/http.h"
#include "web/yield.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Ties the window to its desktop entry (menu name and icon) where the
  // desktop asks for it.
  QGuiApplication::setDesktopFileName(QStringLiteral(QM_APP_ID));
  qm::HttpGlobalInit();
  // Long operations on the window's thread let the window handle its events.
  qm::SetYieldHook([] { QCoreApplication::processEvents(); });
  qm::InstallFontSubstitutes();
  qm::frmMain window(QCoreApplication::applicationDirPath(), qm::ProgramHooks());
  window.show();
  return app.exec();
}
