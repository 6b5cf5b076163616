// qmcrawl: the crawler's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <optional>
#include <vector>

#include "qm_version.h"
#include "ui/frm_main.h"
#include "web/http.h"
#include "web/yield.h"

namespace {

// What the command line asks of the crawler. A flag of its own is a bool
// field here and a row in kFlags.
struct Options {
  bool browserAddresses = false;
};

struct Flag {
  const char* name;  // --name
  const char* description;
  bool Options::*field;
};
const std::vector<Flag> kFlags = {
    {"browser-addresses",
     "Reads the addresses of pages as a browser does: relative to the page, "
     "letter case kept, character references decoded, srcset read.",
     &Options::browserAddresses},
};

// Qt's own options, which QApplication takes off the command line itself
// (-platform offscreen, -style=fusion): accepted here, left out of the help.
const char* const kQtOptionsWithValue[] = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "style",           "stylesheet",         "display",       "name",
    "visual",          "geometry",           "icon",          "title",
    "qmljsdebugger"};
const char* const kQtFlags[] = {"reverse", "testability", "nograb", "dograb", "widgetcount"};

// The command line read: the options, or the status to end with at once,
// before any window opens.
struct CommandLine {
  Options options;
  std::optional<int> exitStatus;
};

void Write(std::FILE* to, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
  std::fflush(to);
}

// The help text. Qt names the program in it after the running application,
// so one stands for the moment.
QString Usage(const QCommandLineParser& parser, int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return parser.helpText();
}

// Reads the command line as Linux programs do: --help and --version answer
// on standard output with status 0, an unknown option gets the usage on
// standard error with status 2. Needs no display.
CommandLine ParseCommandLine(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);  // -platform
  parser.setApplicationDescription(
      QStringLiteral("Collects the images of web sites (a window with a Chinese interface)."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Shows this help and exits."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Shows the version and exits."));
  parser.addOptions({help, version});
  for (const Flag& flag : kFlags)
    parser.addOption({QString::fromLatin1(flag.name), QString::fromUtf8(flag.description)});
  for (const char* name : kQtOptionsWithValue) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : kQtFlags) {
    QCommandLineOption option(QString::fromLatin1(name));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }

  CommandLine line;
  if (!parser.parse(arguments)) {
    Write(stderr, parser.errorText() + QLatin1Char('\n') + Usage(parser, argc, argv));
    line.exitStatus = 2;
  } else if (parser.isSet(help)) {
    Write(stdout, Usage(parser, argc, argv));
    line.exitStatus = 0;
  } else if (parser.isSet(version)) {
    Write(stdout, QStringLiteral("qmcrawl " QM_VERSION "\n"));
    line.exitStatus = 0;
  }
  for (const Flag& flag : kFlags)
    line.options.*flag.field = parser.isSet(QString::fromLatin1(flag.name));
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  // Read before the application exists, which would need a display.
  const CommandLine command = ParseCommandLine(argc, argv);
  if (command.exitStatus) return *command.exitStatus;

  QApplication app(argc, argv);
  // Ties the window to its desktop entry (menu name and icon) where the
  // desktop asks for it.
  QGuiApplication::setDesktopFileName(QStringLiteral(QM_APP_ID));
  qm::HttpGlobalInit();
  // Long operations on the window's thread let the window handle its events.
  qm::SetYieldHook([] { QCoreApplication::processEvents(); });
  qm::InstallFontSubstitutes();
  qm::frmMain window(QCoreApplication::applicationDirPath(), qm::ProgramHooks());
  window.Engine().Settings().BrowserAddresses = command.options.browserAddresses;
  window.show();
  return app.exec();
}
