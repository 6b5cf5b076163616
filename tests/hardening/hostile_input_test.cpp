// Hostile input in thread mode (no downloader program beside the crawler):
// addresses made to break out of a file name or into a shell, and random text
// in every settings box. Nothing crashes, no command runs, and nothing is
// written outside the save folder, the Log folder and errLog.txt.
#include <gtest/gtest.h>

#include <QFileInfo>

#include "download/download_files.h"
#include "hardening_util.h"
#include "web/text.h"

namespace {

using namespace qmtest;
using namespace qmtest::hard;
namespace fs = std::filesystem;

TEST(HostileInputTest, ImageNamesStayInsideTheSaveFolder) {
  HostileSite site;
  TempDir root;
  const std::string save = root.File("save");
  fs::create_directory(save);
  const auto before = Snapshot(root.Path());
  const std::string base = site.server.Url("/img/");
  const std::string m = Marker();
  std::set<std::string> expected{"deep.jpg", "long.jpg"};
  // First an address ending in "/" while the folder is empty: no name.
  std::string list =
      base + "\"" +
      HostileList(base,
                  {"$(touch " + m + ").jpg", "a; touch " + m + " ;.jpg", "it's.jpg",
                   "..\\..\\esc.jpg", "%2e%2e%2fesc.jpg", "ctl\r\n\t\x01\x1b[31m\x7f.jpg"},
                  expected);
  list += base + "a/b/../../../deep.jpg\"";
  // A name too long to name a new file of the folder: nothing is saved.
  list += base + std::string(300, 'n') + ".jpg\"";
  list += site.server.Url("/" + std::string(10000, 'd') + "/long.jpg") + "\"";
  // A NUL inside the name; an address ending in "/" once the folder holds
  // files: the prefix alone.
  const QString full = Q(list + base + "nul") + QChar(0) + "x.jpg\"" + Q(base) + "\"";

  qm::DownloadOptions options;
  options.folder = Q(save);
  qm::DownloadFiles(full, 0, options);

  std::set<std::string> files = ListFolder(save);
  const auto prefixOnly =
      std::erase_if(files, [](const std::string& n) { return IsPrefixed(n, ""); });
  EXPECT_EQ(files, expected);
  EXPECT_EQ(prefixOnly, 1u);
  for (const auto& entry : fs::directory_iterator(save))
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  ExpectChangesOnlyIn(root.Path(), before, {"save"});
  ExpectNoMarker();
}

TEST(HostileInputTest, LinksInTheSaveFolderAreNeverWrittenThrough) {
  LoopbackServer server;
  for (const char* path : {"/a/pic.jpg", "/b/gone.jpg", "/c/sub"})
    server.Serve(path, Reply(std::string("new ") + path));
  TempDir root;
  const fs::path save = root.File("save");
  fs::create_directory(save);
  fs::create_directory(root.File("elsewhere"));
  WriteWhole(root.File("outside.txt"), "keep");
  fs::create_symlink(root.File("outside.txt"), save / "pic.jpg");
  fs::create_symlink(root.File("missing.txt"), save / "gone.jpg");  // dangling
  fs::create_directory_symlink(root.File("elsewhere"), save / "sub");
  const auto before = Snapshot(root.Path());

  qm::DownloadOptions options;
  options.folder = Q(save.string());
  qm::DownloadFiles(
      Q(server.Url("/a/pic.jpg") + "\"" + server.Url("/b/gone.jpg") + "\"" + server.Url("/c/sub")),
      0, options);

  EXPECT_EQ(ReadWhole(root.File("outside.txt")), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root.File("missing.txt"))));
  EXPECT_TRUE(fs::is_empty(root.File("elsewhere")));
  // Each image got a prefixed name of its own beside the link it met.
  std::map<std::string, std::string> saved;
  for (const auto& entry : fs::directory_iterator(save)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_symlink())
      saved[name.size() > 7 ? name.substr(7) : name] = ReadWhole(entry.path());
  }
  EXPECT_EQ(saved, (std::map<std::string, std::string>{{"pic.jpg", "new /a/pic.jpg"},
                                                       {"gone.jpg", "new /b/gone.jpg"},
                                                       {"sub", "new /c/sub"}}));
  ExpectChangesOnlyIn(root.Path(), before, {"save"});
}

TEST(HostileInputTest, CrawlOfAHostileSiteSavesOnlyIntoTheSaveFolder) {
  HostileSite site;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  fs::create_directory(save);
  StepRig rig;
  rig.SaveInto(save);
  const auto programBefore = Snapshot(rig.dir.Path());
  const auto saveBefore = Snapshot(saveRoot.Path());

  rig.Crawl(site.StartLines());  // the start lines
  ASSERT_TRUE(rig.engine.Running());
  rig.engine.Timer1_Timer();  // the hostile links they listed
  ASSERT_GE(rig.Rows(), 10);
  int longLinks = 0;
  for (int row = 0; row < rig.Rows(); ++row) {
    EXPECT_EQ(rig.State(row), QStringLiteral("分析完成")) << row;
    longLinks += rig.Link(row).size() > 10000;
  }
  EXPECT_EQ(longLinks, 1);
  ASSERT_TRUE(rig.engine.Downloads().Queue().contains(QStringLiteral("http")));
  rig.engine.Timer2_Timer();  // a worker thread takes the queue
  ASSERT_TRUE(WaitUntil([&] {
    return LiveWorkers(rig.engine.Downloads()) == 0 && rig.engine.Downloads().Queue().isEmpty();
  }));
  rig.Settle();
  std::size_t longRequests = 0;
  for (const auto& r : site.server.Requests()) longRequests += r.target.size() > 10000;
  EXPECT_EQ(longRequests, 2u);  // the long link and the long image address

  ExpectHostileImagesIn(save);
  for (const auto& entry : fs::directory_iterator(save))
    EXPECT_TRUE(entry.is_regular_file()) << entry.path();
  EXPECT_TRUE(rig.host.criticals.isEmpty());
  ExpectChangesOnlyIn(rig.dir.Path(), programBefore, {"Log", "errLog.txt"});
  ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  ExpectNoMarker();
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, HandTypedFolderBeforeTheFirstStartSavesIntoTheDefaultFolder) {
  HostileSite site;
  StepRig rig;
  // A folder typed by hand is not taken as the save folder; with no folder
  // chosen yet, the crawl saves into the default one instead of a folder
  // made of an empty path.
  rig.engine.SetTxt(0, QStringLiteral("typed by hand"));
  rig.Seed(site.Start(), /*siteOnly=*/true);
  rig.Start();
  ASSERT_TRUE(rig.engine.Running());
  const QString folder = Q(rig.dir.Path()) + QStringLiteral("/imgdown");
  // (Checked before anything is dispatched: an empty path would name the root.)
  ASSERT_EQ(rig.engine.Downloads().GetSavePath(), folder);
  EXPECT_EQ(rig.engine.Txt(0), QStringLiteral("typed by hand"));
  rig.engine.Timer1_Timer();
  rig.engine.Timer2_Timer();
  rig.Settle();
  ExpectHostileImagesIn(folder.toStdString());
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, EmptyFolderRequestsAndSavesNothing) {
  HostileSite site;
  // The body is cut short, so that even a request made by mistake saves
  // nothing; the request count tells.
  Route cut = Reply(std::string(4096, 'c'));
  cut.cutAfter = 100;
  site.server.Serve("/img/up.jpg", cut);
  qm::DownloadOptions options;  // the folder of a command line "s=&min=..."
  qm::DownloadFiles(Q(site.server.Url("/img/up.jpg")), 0, options);
  EXPECT_EQ(site.server.RequestCount(), 0u);
  ExpectNothingOutsideTheSaveFolder();
}

TEST(HostileInputTest, OverflowingSizeBoundStopsTheCrawlThroughTheFailurePath) {
  // 2,097,152 kilobytes and more do not fit 32 bits as bytes, whether the box
  // was left or not.
  HostileSite site;
  for (const bool left : {true, false}) {
    StepRig rig;
    rig.Crawl(site.Start());
    const QString queue = rig.engine.Downloads().Queue();
    ASSERT_TRUE(queue.contains(QStringLiteral("http")));
    rig.engine.SetTxt(4, left ? QStringLiteral("2097152kb") : QStringLiteral("99999999999kb"));
    if (left) rig.engine.Txt_LostFocus(4);
    rig.engine.Timer2_Timer();

    EXPECT_FALSE(rig.engine.Running());
    EXPECT_EQ(rig.engine.Caption(qm::kBtnStart), QStringLiteral("开 始"));
    EXPECT_FALSE(rig.engine.Timer2().isActive());
    EXPECT_EQ(rig.host.criticals, QStringList{QStringLiteral("6: 溢出")});
    EXPECT_EQ(LiveWorkers(rig.engine.Downloads()), 0);
    EXPECT_EQ(rig.engine.Downloads().Queue(), queue);  // nothing was taken, nothing lost
    const QStringList lines = ErrorFileLines(Q(rig.dir.Path()));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("DI==0 LenK=0"));
    EXPECT_TRUE(!left || lines[1].endsWith(QStringLiteral("&min=2147483648&url=")))
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("错误:溢出  -  代码:6"));
  }
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
      const unsigned kind = Next(5);
      if (kind <= 1) {
        s += tokens_[Next(static_cast<unsigned>(tokens_.size()))];
      } else if (kind == 2) {  // a number, maybe signed, fractional, with an exponent or a unit
        if (Next(3) == 0) s += QLatin1Char('-');
        const unsigned digits = 1 + Next(Next(4) == 0 ? 25 : 4);
        for (unsigned d = 0; d < digits; ++d) s += QChar(u'0' + Next(10));
        if (Next(3) == 0) s += QStringLiteral(".5");
        if (Next(5) == 0) s += QStringLiteral("e") + QString::number(Next(400));
        static const char* const kUnits[] = {"", "ms", "kb", " ", "%"};
        s += QLatin1String(kUnits[Next(5)]);
      } else {  // characters of every kind but ':' and '/'
        // Control characters (NUL included), CJK, lone surrogates, printable ones.
        static const char16_t kFrom[] = {0, 0x4E00, 0xD800, 0x20, 0x20};
        static const unsigned kCount[] = {32, 0x51A6, 0x800, 0x5F, 0x5F};
        for (unsigned c = 0, n = 1 + Next(12); c < n; ++c) {
          const unsigned range = Next(5);
          const auto u = static_cast<char16_t>(kFrom[range] + Next(kCount[range]));
          s += QChar(u == u':' || u == u'/' ? u'_' : u);
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
  HostileSite site;
  TempDir saveRoot;
  const std::string save = saveRoot.File("save");
  fs::create_directory(save);
  TimeoutScope timeouts(5000, 2000);
  EngineRig rig;
  WorkerGuard workers(rig.engine.Downloads());
  YieldScope yields;
  rig.host.browseResult = Q(save);
  const auto programBefore = Snapshot(rig.dir.Path());
  const auto saveBefore = Snapshot(saveRoot.Path());

  const QString m = Q(Marker());
  RandomText random(7, {site.Start(),
                        site.Start(),
                        Q(site.server.Url("/img/x.jpg")),
                        QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort()),
                        "\r\n",
                        "\n",
                        "*",
                        "jpg*",
                        "图片",
                        "hostile",
                        qm::CrawlEngine::KeyWordHint(),
                        "$(touch\t" + m + ")",
                        "`touch\t" + m + "`",
                        ";touch\t" + m + ";",
                        "|&&'\"\\",
                        "..",
                        "2147483647",
                        "2147483648",
                        "2097152kb",
                        "-2147483649",
                        "1e400",
                        "NaN",
                        "Infinity",
                        "0x1F",
                        "2.5",
                        QString(10000, QLatin1Char('a'))});

  int starts = 0;
  int rows = 0;
  for (int round = 0; round < 1000; ++round) {
    const unsigned op = random.Next(12);
    const int box = static_cast<int>(random.Next(qm::CrawlEngine::kTxtCount));
    if (op <= 4) {
      QString text = random.Text();
      // The delay after each page is waited out in full: keep it short.
      if (box == 3 && qm::LeadingNumber(text) > 5) text.prepend(QStringLiteral("5ms"));
      // Start addresses often hold one good line, so that crawls do run,
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
      random.Next(2) ? rig.engine.Txt_Click(box) : rig.engine.Txt_Change(box);
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
    } else if (op <= 10) {
      rig.engine.Timer1_Timer();
    } else {
      rig.engine.Timer2_Timer();
    }
    QCoreApplication::processEvents();
    rows = std::max(rows, rig.Rows());
  }
  if (rig.engine.Running()) rig.engine.Click(qm::kBtnStart);
  ASSERT_TRUE(WaitForWorkers(rig.engine.Downloads()));

  EXPECT_GT(starts, 0);
  EXPECT_GT(rows, 0);
  // Every failure message came with its error file.
  EXPECT_TRUE(rig.host.criticals.isEmpty() || QFileInfo::exists(Q(rig.dir.File("errLog.txt"))));
  ExpectChangesOnlyIn(rig.dir.Path(), programBefore, {"imgdown", "Log", "errLog.txt"});
  ExpectChangesOnlyIn(saveRoot.Path(), saveBefore, {"save"});
  ExpectNoMarker();
  ExpectNothingOutsideTheSaveFolder();
}

}  // namespace
