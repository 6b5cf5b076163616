// Hostile input in thread mode (no downloader program beside the crawler):
// addresses made to break out of a file name or into a shell, and random text
// in every settings box. Nothing crashes, no command runs, and nothing is
// written outside the save folder, the Log folder and errLog.txt.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "crawl/crawl_fixture.h"
#include "download/download_files.h"
#include "download/download_state.h"
#include "hardening_util.h"
#include "hostile_site.h"
#include "web/gbk.h"
#include "web/text.h"

namespace {

using qmtest::EngineRig;
using qmtest::TempDir;
using qmtest::YieldScope;
using qmtest::hard::ListFolder;
using qmtest::hard::Q;

const QString kAnalysed = QStringLiteral("分析完成");

int LiveWorkers(qm::DownloadState& state) {
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ThreadCount;
}

// Stops the crawl and waits until every worker has ended: they use the
// engine's state, which must outlive them.
void Settle(EngineRig& rig) {
  if (rig.engine.Running()) rig.engine.Click(qm::kBtnStart);
  ASSERT_TRUE(
      qmtest::hard::PollUntil([&] { return LiveWorkers(rig.engine.Downloads()) == 0; }, 180));
}

// Nothing of the site's images may land in the root folder or the working
// folder (where an empty save folder would put them).
void ExpectNothingOutsideTheSaveFolder() {
  for (const std::string& name : qmtest::hard::HostileSite::SavedNames()) {
    EXPECT_FALSE(std::filesystem::exists("/" + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::current_path() / name)) << name;
  }
}

TEST(HostileInputTest, ImageNamesStayInsideTheSaveFolder) {
  qmtest::hard::HostileSite site;
  TempDir root;
  const std::string save = root.File("save");
  std::filesystem::create_directory(save);
  const auto before = qmtest::hard::Snapshot(root.Path());
  const std::string base = site.Server().Url("/img/");
  std::string list = base + "\"";  // ends in "/" while the folder is empty: no name
  std::set<std::string> expected;
  for (const std::string& name : qmtest::hard::ShellNames(".jpg")) {
    list += base + name + "\"";
    expected.insert(name);
  }
  const std::string m = qmtest::hard::Marker();
  for (const std::string& name : std::vector<std::string>{
           "$(touch " + m + ").jpg", "a; touch " + m + " ;.jpg", "it's.jpg", "..\\..\\esc.jpg",
           "%2e%2e%2fesc.jpg", std::string("ctl\r\n\t\x01\x1b[31m\x7f.jpg")}) {
    list += base + name + "\"";
    expected.insert(name);
  }
  list += base + "../../up.jpg\"" + base + "a/b/../../../deep.jpg\"";
  expected.insert({"up.jpg", "deep.jpg"});
  // Names that cannot name a new file of the folder: nothing is saved.
  list += base + "..\"" + base + ".\"" + base + std::string(300, 'n') + ".jpg\"";
  list += site.Server().Url("/" + std::string(10000, 'd') + "/long.jpg") + "\"";
  expected.insert("long.jpg");
  // A NUL inside the name.
  QString withNul = Q(base + "nul") + QChar(0) + QStringLiteral("x.jpg");
  // An address ending in "/" once the folder holds files: the prefix alone.
  const QString full = Q(list) + withNul + "\"" + Q(base) + "\"";

  qm::DownloadOptions options;
  options.folder = Q(save);
  qm::DownloadFiles(full, 0, options);

  std::set<std::string> files = ListFolder(save);
  int prefixOnly = 0;
  for (auto it = files.begin(); it != files.end();) {
    if (it->size() == 7 && it->back() == '-') {
      ++prefixOnly;
      it = files.erase(it);
    } else {
      ++it;
    }
  }
  EXPECT_EQ(files, expected);
  EXPECT_EQ(prefixOnly, 1);
  for (const auto& entry : std::filesystem::directory_iterator(save))
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  qmtest::hard::ExpectChangesOnlyIn(root.Path(), before, {"save"});
  qmtest::hard::ExpectNoMarker();
}

TEST(HostileInputTest, LinksInTheSaveFolderAreNeverWrittenThrough) {
  qmtest::LoopbackServer server;
  for (const char* path : {"/a/pic.jpg", "/b/gone.jpg", "/c/sub"}) {
    qmtest::Route r;
    r.body = std::string("new ") + path;
    server.Serve(path, r);
  }
  TempDir root;
  namespace fs = std::filesystem;
  const fs::path save = root.File("save");
  fs::create_directory(save);
  fs::create_directory(root.File("elsewhere"));
  { std::ofstream(root.File("outside.txt")) << "keep"; }
  fs::create_symlink(root.File("outside.txt"), save / "pic.jpg");
  fs::create_symlink(root.File("missing.txt"), save / "gone.jpg");  // dangling
  fs::create_directory_symlink(root.File("elsewhere"), save / "sub");
  const auto before = qmtest::hard::Snapshot(root.Path());

  qm::DownloadOptions options;
  options.folder = Q(save.string());
  qm::DownloadFiles(
      Q(server.Url("/a/pic.jpg") + "\"" + server.Url("/b/gone.jpg") + "\"" + server.Url("/c/sub")),
      0, options);

  EXPECT_EQ(qmtest::hard::ReadWhole(root.File("outside.txt")), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root.File("missing.txt"))));
  EXPECT_TRUE(fs::is_empty(root.File("elsewhere")));
  // Each image got a prefixed name of its own beside the link it met.
  std::map<std::string, std::string> saved;
  for (const auto& entry : fs::directory_iterator(save)) {
    if (entry.is_symlink()) continue;
    const std::string name = entry.path().filename().string();
    saved[name.size() > 7 ? name.substr(7) : name] = qmtest::hard::ReadWhole(entry.path());
  }
  EXPECT_EQ(saved, (std::map<std::string, std::string>{{"pic.jpg", "new /a/pic.jpg"},
                                                       {"gone.jpg", "new /b/gone.jpg"},
                                                       {"sub", "new /c/sub"}}));
  qmtest::hard::ExpectChangesOnlyIn(root.Path(), before, {"save"});
}

TEST(HostileInputTest, CrawlOfAHostileSiteSavesOnlyIntoTheSaveFolder) {
  qmtest::hard::HostileSite site;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  std::filesystem::create_directory(save);
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  rig.host.browseResult = Q(save);
  rig.engine.Click(qm::kBtnBrowse);
  rig.engine.SetTxt(4, QStringLiteral("0kb"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  const auto programBefore = qmtest::hard::Snapshot(rig.dir.Path());
  const auto saveBefore = qmtest::hard::Snapshot(saveRoot.Path());

  rig.Seed(site.StartLines(), /*siteOnly=*/true);
  rig.Start();
  ASSERT_TRUE(rig.engine.Running());
  rig.engine.Timer1_Timer();  // the start lines
  rig.engine.Timer1_Timer();  // the hostile links they listed
  ASSERT_GE(rig.Rows(), 10);
  int longLinks = 0;
  for (int row = 0; row < rig.Rows(); ++row) {
    EXPECT_EQ(rig.State(row), kAnalysed) << row;
    longLinks += rig.Link(row).size() > 10000;
  }
  EXPECT_EQ(longLinks, 1);
  ASSERT_TRUE(rig.engine.Downloads().Queue().contains(QStringLiteral("http")));
  rig.engine.Timer2_Timer();  // a worker thread takes the queue
  ASSERT_TRUE(qmtest::hard::PollUntil([&] {
    return LiveWorkers(rig.engine.Downloads()) == 0 && rig.engine.Downloads().Queue().isEmpty();
  }));
  Settle(rig);
  std::size_t longRequests = 0;
  for (const auto& r : site.Server().Requests()) longRequests += r.target.size() > 10000;
  EXPECT_EQ(longRequests, 2u);  // the long link and the long image address

  const std::set<std::string> files = ListFolder(save);
  for (const std::string& name : qmtest::hard::HostileSite::SavedNames())
    EXPECT_TRUE(files.count(name)) << name;
  for (const auto& entry : std::filesystem::directory_iterator(save))
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  qmtest::hard::ExpectChangesOnlyIn(rig.dir.Path(), programBefore, {"Log", "errLog.txt"});
  qmtest::hard::ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  qmtest::hard::ExpectNoMarker();
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, HandTypedFolderBeforeTheFirstStartSavesIntoTheDefaultFolder) {
  qmtest::hard::HostileSite site;
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  // A folder typed by hand is not taken as the save folder; with no folder
  // chosen yet, the crawl saves into the default one instead of a folder
  // made of an empty path.
  rig.engine.SetTxt(0, QStringLiteral("typed by hand"));
  rig.engine.SetTxt(4, QStringLiteral("0kb"));
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  rig.Seed(site.Start(), /*siteOnly=*/true);
  rig.Start();
  ASSERT_TRUE(rig.engine.Running());
  const QString folder = Q(rig.dir.Path()) + QStringLiteral("/imgdown");
  // (Checked before anything is dispatched: an empty path would name the root.)
  ASSERT_EQ(rig.engine.Downloads().GetSavePath(), folder);
  EXPECT_EQ(rig.engine.Txt(0), QStringLiteral("typed by hand"));
  rig.engine.Timer1_Timer();
  rig.engine.Timer2_Timer();
  Settle(rig);
  const std::set<std::string> files = ListFolder(folder.toStdString());
  for (const std::string& name : qmtest::hard::HostileSite::SavedNames())
    EXPECT_TRUE(files.count(name)) << name;
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, EmptyFolderRequestsAndSavesNothing) {
  qmtest::hard::HostileSite site;
  // The body is cut short, so that even a request made by mistake saves
  // nothing; the request count tells.
  qmtest::Route cut;
  cut.body = std::string(4096, 'c');
  cut.cutAfter = 100;
  site.Server().Serve("/img/up.jpg", cut);
  qm::DownloadOptions options;  // the folder of a command line "s=&min=..."
  qm::DownloadFiles(Q(site.Server().Url("/img/up.jpg")), 0, options);
  EXPECT_EQ(site.Server().RequestCount(), 0u);
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, OverflowingSizeBoundStopsTheCrawlThroughTheFailurePath) {
  qmtest::hard::HostileSite site;
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  rig.engine.SetTxt(7, QStringLiteral("600000ms"));
  rig.engine.SetTxt(8, QStringLiteral("5"));
  rig.Seed(site.Start(), /*siteOnly=*/true);
  rig.Start();
  rig.engine.Timer1_Timer();
  const QString queue = rig.engine.Downloads().Queue();
  ASSERT_TRUE(queue.contains(QStringLiteral("http")));
  // 2,097,152 kilobytes and more do not fit 32 bits as bytes.
  rig.engine.SetTxt(4, QStringLiteral("2097152kb"));
  rig.engine.Txt_LostFocus(4);
  rig.engine.Timer2_Timer();

  EXPECT_FALSE(rig.engine.Running());
  EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), QStringLiteral("开 始"));
  EXPECT_FALSE(rig.engine.Timer2().isActive());
  EXPECT_EQ(rig.host.criticals, QStringList{QStringLiteral("6: 溢出")});
  EXPECT_EQ(LiveWorkers(rig.engine.Downloads()), 0);
  EXPECT_EQ(rig.engine.Downloads().Queue(), queue);  // nothing was taken, nothing lost
  QFile errLog(Q(rig.dir.File("errLog.txt")));
  ASSERT_TRUE(errLog.open(QIODevice::ReadOnly));
  const QStringList lines = qm::FromGbk(errLog.readAll()).split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 6);  // five lines, each ended by CR LF
  EXPECT_EQ(lines[0], QStringLiteral("DI==0 LenK=0"));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral("&min=2147483648&url="))) << lines[1].toStdString();
  EXPECT_EQ(lines[2], QStringLiteral("错误:溢出  -  代码:6"));
  Settle(rig);
}

// ---- random text in every box

class RandomText {
 public:
  RandomText(unsigned seed, std::vector<QString> tokens) : gen_(seed), tokens_(std::move(tokens)) {}

  unsigned Next(unsigned n) { return static_cast<unsigned>(gen_() % n); }

  // Pieces of every kind; "http://" only ever comes whole from a token, so
  // every web address points at a loopback port.
  QString Text() {
    QString s;
    const unsigned pieces = Next(6);
    for (unsigned i = 0; i < pieces; ++i) {
      switch (Next(5)) {
        case 0:
        case 1:
          s += tokens_[Next(static_cast<unsigned>(tokens_.size()))];
          break;
        case 2: {  // a number, maybe signed, fractional, with an exponent or a unit
          if (Next(3) == 0) s += QLatin1Char('-');
          const unsigned digits = 1 + Next(Next(4) == 0 ? 25 : 4);
          for (unsigned d = 0; d < digits; ++d) s += QChar(u'0' + Next(10));
          if (Next(3) == 0) s += QStringLiteral(".5");
          if (Next(5) == 0) s += QStringLiteral("e") + QString::number(Next(400));
          static const char* const kUnits[] = {"", "ms", "kb", " ", "%"};
          s += QLatin1String(kUnits[Next(5)]);
          break;
        }
        default: {  // characters of every kind but ':' and '/'
          const unsigned n = 1 + Next(12);
          for (unsigned c = 0; c < n; ++c) {
            char16_t u;
            switch (Next(5)) {
              case 0:
                u = static_cast<char16_t>(Next(32));  // control characters, NUL included
                break;
              case 1:
                u = static_cast<char16_t>(0x4E00 + Next(0x51A6));  // CJK
                break;
              case 2:
                u = static_cast<char16_t>(0xD800 + Next(0x800));  // lone surrogates
                break;
              default:
                u = static_cast<char16_t>(0x20 + Next(0x5F));
                if (u == u':' || u == u'/') u = u'_';
            }
            s += QChar(u);
          }
        }
      }
    }
    return s;
  }

 private:
  std::mt19937 gen_;
  std::vector<QString> tokens_;
};

TEST(HostileInputTest, RandomTextInEverySettingsBox) {
  qmtest::hard::HostileSite site;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  std::filesystem::create_directory(save);
  qmtest::hard::TimeoutScope timeouts(5000, 2000);
  EngineRig rig;
  qmtest::hard::WorkerGuard workers(rig.engine);
  YieldScope yields;
  rig.host.browseResult = Q(save);
  const auto programBefore = qmtest::hard::Snapshot(rig.dir.Path());
  const auto saveBefore = qmtest::hard::Snapshot(saveRoot.Path());

  const QString m = Q(qmtest::hard::Marker());
  RandomText random(7, {
                           site.Start(),
                           site.Start(),
                           Q(site.Server().Url("/img/x.jpg")),
                           QStringLiteral("http://127.0.0.1:%1/").arg(qmtest::ClosedPort()),
                           QStringLiteral("\r\n"),
                           QStringLiteral("\n"),
                           QStringLiteral("*"),
                           QStringLiteral("jpg*"),
                           QStringLiteral("图片"),
                           QStringLiteral("hostile"),
                           qm::CrawlEngine::KeyWordHint(),
                           QStringLiteral("$(touch\t") + m + QStringLiteral(")"),
                           QStringLiteral("`touch\t") + m + QStringLiteral("`"),
                           QStringLiteral(";touch\t") + m + QStringLiteral(";"),
                           QStringLiteral("|&&'\"\\"),
                           QStringLiteral(".."),
                           QStringLiteral("2147483647"),
                           QStringLiteral("2147483648"),
                           QStringLiteral("2097152kb"),
                           QStringLiteral("-2147483649"),
                           QStringLiteral("1e400"),
                           QStringLiteral("NaN"),
                           QStringLiteral("Infinity"),
                           QStringLiteral("0x1F"),
                           QStringLiteral("2.5"),
                           QString(10000, QLatin1Char('a')),
                       });

  int starts = 0;
  int rows = 0;
  for (int round = 0; round < 1000; ++round) {
    const unsigned op = random.Next(12);
    const int box = static_cast<int>(random.Next(qm::CrawlEngine::kTxtCount));
    if (op <= 4) {
      QString text = random.Text();
      // The delay after each page is waited out in full: keep it short.
      if (box == 3 && qm::LeadingNumber(text) > 5) text.prepend(QStringLiteral("5ms"));
      // Start addresses often hold one good line, so that crawls do run.
      if (box == 2 && random.Next(2) == 0) text += QStringLiteral("\r\n") + site.Start();
      // and keywords often include one of the site's titles.
      if (box == 5 && random.Next(2) == 0) text += QStringLiteral("*hostile");
      // Size bounds of 0 and a few downloads at once let images be saved.
      if (box == 4 && random.Next(3) == 0) text.prepend(QStringLiteral("0kb"));
      if (box == 8 && random.Next(3) == 0) text.prepend(QStringLiteral("5"));
      rig.engine.SetTxt(box, text);
    } else if (op == 5) {
      rig.engine.Txt_LostFocus(box);
    } else if (op == 6) {
      if (random.Next(2)) {
        rig.engine.Txt_Click(box);
      } else {
        rig.engine.Txt_Change(box);
      }
    } else if (op == 7) {
      rig.engine.Click(qm::kBtnStart);
      starts += rig.engine.Running();
      // Whenever a crawl runs, it has a real folder to save into (checked
      // before anything is dispatched: an empty path would name the root).
      if (rig.engine.Running()) {
        ASSERT_FALSE(rig.engine.Downloads().GetSavePath().isEmpty()) << round;
      }
    } else if (op == 8) {
      static const int kButtons[] = {qm::kBtnSite, qm::kBtnList, qm::kBtnClear, qm::kBtnBrowse,
                                     qm::kBtnQuit};
      rig.engine.Click(kButtons[random.Next(5)]);
    } else if (op == 9 || op == 10) {
      rig.engine.Timer1_Timer();
    } else {
      rig.engine.Timer2_Timer();
    }
    QCoreApplication::processEvents();
    rows = std::max(rows, rig.Rows());
  }
  Settle(rig);

  EXPECT_GT(starts, 0);
  EXPECT_GT(rows, 0);
  // Every failure message came with its error file.
  if (!rig.host.criticals.isEmpty()) {
    EXPECT_TRUE(QFileInfo::exists(Q(rig.dir.File("errLog.txt"))));
  }
  qmtest::hard::ExpectChangesOnlyIn(rig.dir.Path(), programBefore,
                                    {"imgdown", "Log", "errLog.txt"});
  qmtest::hard::ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  qmtest::hard::ExpectNoMarker();
  ExpectNothingOutsideTheSaveFolder();
}

}  // namespace
