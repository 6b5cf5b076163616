#include "crawl/engine.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cmath>
#include <limits>

#include "crawl/data_folder.h"
#include "crawl/page_analyse.h"
#include "crawl/run_log.h"
#include "download/dispatcher.h"
#include "web/text.h"
#include "web/yield.h"

namespace qm {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kStartCaption = QStringLiteral("开 始");
const QString kStopCaption = QStringLiteral("停 止");
const QString kSiteOffCaption = QStringLiteral("只抓取站内");
const QString kSiteOnCaption = QStringLiteral("√只抓取站内");
const QString kShowListCaption = QStringLiteral("查看列表");
const QString kHideListCaption = QStringLiteral("隐藏");
const QString kAnalysing = QStringLiteral("分析中..");
const QString kAnalysed = QStringLiteral("分析完成");

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// A number from a settings box, held to the 32-bit range.
std::int32_t BoxNumber(const QString& text, std::int32_t low = kInt32Min,
                       std::int32_t high = kInt32Max) {
  const double v = LeadingNumber(text);
  if (std::isnan(v)) return 0;
  if (v <= static_cast<double>(low)) return low;
  if (v >= static_cast<double>(high)) return high;
  return static_cast<std::int32_t>(v);
}

bool HasWebAddress(const QString& text) {
  const QString lower = text.toLower();
  return lower.contains(QLatin1String("http://")) || lower.contains(QLatin1String("https://"));
}

}  // namespace

struct CrawlEngine::Impl : DispatchHost {
  CrawlEngine* q;
  QString programFolder;
  QString dataFolder;  // decided once, before the run log is made
  EngineHost* host;

  std::array<QString, kTxtCount> txt;
  std::array<QString, 8> captions;
  std::array<QString, 9> labs;
  bool listVisible = false;

  RunLog log;
  QTimer timer1;
  QTimer timer2;
  bool timer1Enabled = false;  // the timer as the window sees it
  int timer1Interval = 2000;   // it ticks only while this is above 0

  AddressList lv;
  bool running = false;
  QString seedList;
  std::int32_t imgTotal = 0;
  CrawlSettings settings;
  FingerprintSet seenLinks;
  DownloadState downloads;

  bool inStep = false;
  bool inDispatch = false;

  Impl(CrawlEngine* engine, const QString& folder, EngineHost* h)
      : q(engine),
        programFolder(folder),
        dataFolder(DataFolderFor(folder)),
        host(h),
        log(dataFolder + QStringLiteral("/Log")) {}

  // ---- DispatchHost
  bool Running() const override { return running; }
  void StopA() override { q->StopA(); }
  void Ag(const QString& message) override { q->Ag(message); }
  QString LimitText() const override { return txt[8]; }
  QString ProgramFolder() const override { return programFolder; }
  // The error file may be the first thing written there.
  QString DataFolder() const override {
    QDir().mkpath(dataFolder);
    return dataFolder;
  }
  void DisableTimer2() override { timer2.stop(); }
  void ShowCritical(const QString& text, const QString& title) override {
    if (host) host->ShowCritical(text, title);
  }
  void ProcessEvents() override { YieldNow(); }

  // ---- helpers
  void SetCaption(int index, const QString& caption) {
    if (captions[static_cast<std::size_t>(index)] == caption) return;
    captions[static_cast<std::size_t>(index)] = caption;
    emit q->CaptionChanged(index, caption);
  }

  void SetLab(int index, const QString& text) {
    if (labs[static_cast<std::size_t>(index)] == text) return;
    labs[static_cast<std::size_t>(index)] = text;
    emit q->LabChanged(index, text);
  }

  void ShowCounters() {
    SetLab(6, QString::number(lv.ItemCount()));
    SetLab(4, QString::number(imgTotal));
  }

  // The real timer runs only while the window's timer is enabled with a
  // positive interval; an interval of 0 would make it spin.
  void ApplyTimer1(bool restart) {
    if (timer1Enabled && timer1Interval > 0) {
      if (restart || !timer1.isActive() || timer1.interval() != timer1Interval)
        timer1.start(timer1Interval);
    } else {
      timer1.stop();
    }
  }

  void QueueImages(QString images) {
    images.replace(kCrLf, QStringLiteral("\""));
    images += QLatin1Char('"');
    downloads.AppendToQueue(images);
  }

  void AddImages(std::int32_t count) {
    imgTotal = static_cast<std::int32_t>(static_cast<std::uint32_t>(imgTotal) +
                                         static_cast<std::uint32_t>(count));
  }

  void AddRow(const QString& link) {
    const int n = lv.ItemCount();
    lv.AddItem(QString::number(static_cast<qint64>(n) + 1));
    lv.SetItemText(n, 1, link);
  }

  void Start();
  void Stop();
  void Step();

  // Analyses one page and lists its links, yielding after each link line.
  // Start pages (`extension` null) list every web address; pages of the
  // walk pass each link through IsokHtml and the skip test. False when the
  // crawl was stopped meanwhile: StopA has run and the step ends.
  bool AnalyseAndList(const QString& page, QString* extension) {
    QString address = page;
    QString images;
    std::int32_t imgCount = 0;
    std::int32_t linkCount = 0;
    const QString links = PageAnalyse(address, images, imgCount, linkCount, settings, seenLinks);
    AddImages(imgCount);
    QueueImages(images);
    if (linkCount <= 0) return true;
    lv.SetRedraw(false);
    for (QString line : links.split(kCrLf)) {
      if (HasWebAddress(line)) {
        if (!extension) {
          AddRow(line);
        } else {
          // With browser addressing the row keeps the link's letter case;
          // the extension is read from its lower-cased copy all the same.
          QString lowered = line;
          IsokHtml(settings.BrowserAddresses ? lowered : line, *extension);
          if (!SkippedExtension(*extension)) AddRow(line);
        }
      }
      if (!running) {
        q->StopA();
        return false;
      }
      YieldNow();
    }
    lv.SetRedraw(true);
    return true;
  }
};

// ---- construction

QString CrawlEngine::KeyWordHint() {
  return QStringLiteral("多个关键词用") + QStringLiteral("\"*\"") +
         QStringLiteral("星号隔开,当网页标题或副标题含有指定关键词时才采集");
}

CrawlEngine::CrawlEngine(const QString& programFolder, EngineHost* host, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(this, programFolder, host)) {
  d->txt[3] = QStringLiteral("100ms");
  d->txt[4] = QStringLiteral("100kb");
  d->txt[5] = KeyWordHint();
  d->txt[6] = QStringLiteral("jpg*");
  d->txt[7] = QStringLiteral("2000ms");
  d->txt[8] = QStringLiteral("5");
  d->captions = {QStringLiteral("-"), QStringLiteral("x"), kStartCaption,   QStringLiteral("浏览"),
                 kShowListCaption,    QString(),           kSiteOffCaption, QStringLiteral("清空")};
  d->labs[4] = d->labs[6] = d->labs[7] = QStringLiteral("0");
  d->timer2.setInterval(10000);
  connect(&d->timer1, &QTimer::timeout, this, &CrawlEngine::Timer1_Timer);
  connect(&d->timer2, &QTimer::timeout, this, &CrawlEngine::Timer2_Timer);
}

CrawlEngine::~CrawlEngine() = default;

// ---- settings boxes

QString CrawlEngine::Txt(int index) const {
  if (index == 1) return d->log.Text();
  if (index < 0 || index >= kTxtCount) return QString();
  return d->txt[static_cast<std::size_t>(index)];
}

void CrawlEngine::SetTxt(int index, const QString& text) {
  // Txt(1) is the read-only run log: only Ag writes it.
  if (index < 0 || index >= kTxtCount || index == 1) return;
  QString& box = d->txt[static_cast<std::size_t>(index)];
  if (box == text) return;
  box = text;
  emit TxtChanged(index, text);
  Txt_Change(index);
}

namespace {

// A text of the keyword box that counts as keywords.
bool IsKeyWordText(const QString& text) {
  return !text.isEmpty() && text != QLatin1String("*") && text != CrawlEngine::KeyWordHint();
}

}  // namespace

void CrawlEngine::Txt_Change(int index) {
  switch (index) {
    case 4:
      // Beyond the 32-bit range the largest value is kept, so the byte count
      // made from it overflows visibly in the dispatcher.
      d->downloads.MinSizeKb.store(BoxNumber(d->txt[4]));
      break;
    case 5:
      if (IsKeyWordText(d->txt[5])) d->settings.KeyWords = d->txt[5];
      break;
    case 7:
      d->timer1Interval = BoxNumber(d->txt[7], 0, kInt32Max);
      d->ApplyTimer1(false);
      break;
    default:
      break;
  }
}

void CrawlEngine::Txt_Click(int index) {
  if (index == 5 && d->txt[5] == KeyWordHint()) SetTxt(5, QString());
}

void CrawlEngine::Txt_LostFocus(int index) {
  switch (index) {
    case 4:
      d->downloads.MinSizeKb.store(BoxNumber(d->txt[4]));
      Ag(QStringLiteral("文件长度下限已重置..."));
      break;
    case 5:
      if (d->txt[5].isEmpty())
        SetTxt(5, KeyWordHint());
      else if (IsKeyWordText(d->txt[5]))
        Ag(QStringLiteral("指定关键词已经更新..."));
      break;
    case 6:
      d->settings.FileTypes = d->txt[6];
      break;
    default:
      break;
  }
}

// ---- window operations

void CrawlEngine::Form_Load(const std::function<void()>& windowSteps) {
  d->settings.FileTypes = d->txt[6];
  if (windowSteps) windowSteps();
  d->downloads.MinSizeKb.store(BoxNumber(d->txt[4]));
  // The switch is operated once while the address box is still empty: the
  // site base then holds no address until the switch is operated again.
  Click(kBtnSite);
  d->lv.AddColumn(QStringLiteral("序号"), 0, 60);
  d->lv.AddColumn(QStringLiteral("连接"), 0, 430);
  d->lv.AddColumn(QStringLiteral("状态"), 0, 90);
  Ag(QStringLiteral("程序初始化完成..."));
}

void CrawlEngine::Click(int index) {
  switch (index) {
    case kBtnQuit:
      Form_Unload();
      break;
    case kBtnStart:
      if (d->captions[kBtnStart] == kStartCaption)
        d->Start();
      else
        d->Stop();
      break;
    case kBtnBrowse: {
      const QString chosen = d->host ? d->host->BrowseFolder(QString()) : QString();
      SetTxt(0, chosen);
      if (!d->txt[0].isEmpty()) d->downloads.SetSavePath(d->txt[0]);
      break;
    }
    case kBtnList:
      if (d->captions[kBtnList] == kHideListCaption) {
        d->SetCaption(kBtnList, kShowListCaption);
        d->listVisible = false;
      } else {
        d->SetCaption(kBtnList, kHideListCaption);
        d->listVisible = true;
      }
      emit ListVisibleChanged(d->listVisible);
      break;
    case kBtnSite:
      if (d->captions[kBtnSite] == kSiteOffCaption) {
        d->settings.SiteOnly = true;
        d->settings.SiteBase = ToCrLf(d->txt[2]);
        d->SetCaption(kBtnSite, kSiteOnCaption);
      } else {
        d->settings.SiteOnly = false;
        d->SetCaption(kBtnSite, kSiteOffCaption);
      }
      break;
    case kBtnClear:
      SetTxt(2, QString());
      break;
    default:
      break;
  }
}

void CrawlEngine::Impl::Start() {
  q->Ag(QStringLiteral("初始化..."));
  YieldNow();
  lv.Clear();
  imgTotal = 0;
  downloads.TakeQueue();
  seedList.clear();
  q->Ag(QStringLiteral("开始检查配置与环境..."));
  // A folder typed by hand is not taken; while none was chosen either (the
  // box was typed into before the first Start), the default folder is used,
  // never an empty path.
  if (txt[0].isEmpty() || downloads.GetSavePath().isEmpty()) {
    const QString folder = dataFolder + QStringLiteral("/imgdown");
    QDir().mkpath(folder);
    if (!QFileInfo(folder).isDir()) {
      // Without a folder to save into there is no crawl; the box stays as it
      // was so that the next Start tries again.
      q->Ag(QStringLiteral("图片保存目录创建失败,请检查权限..."));
      return;
    }
    if (txt[0].isEmpty()) q->SetTxt(0, folder);
    downloads.SetSavePath(folder);
  }
  if (!txt[2].toLower().contains(QLatin1String("http://"))) {
    q->Ag(QStringLiteral("采集网址为空,或者格式输入有误.请添加正确的网址..."));
    return;
  }
  if (settings.BrowserAddresses) q->Ag(QStringLiteral("网址按浏览器方式解析,保留大小写..."));
  q->Ag(QStringLiteral("开始爬行网页地址..."));
  running = true;
  seedList = ToCrLf(txt[2]);
  timer1Interval = BoxNumber(txt[7], 0, kInt32Max);
  timer1Enabled = true;
  ApplyTimer1(true);
  SetCaption(kBtnStart, kStopCaption);
}

void CrawlEngine::Impl::Stop() {
  q->Ag(QString(66, QLatin1Char('-')));
  SetCaption(kBtnStart, kStartCaption);
  running = false;
  lv.SetRedraw(false);
  lv.SetRedraw(true);
  timer1Enabled = false;
  ApplyTimer1(false);
}

void CrawlEngine::StopA() { d->Stop(); }

void CrawlEngine::Form_Unload() {
  if (d->host) d->host->EndProgram();
}

QString CrawlEngine::Caption(int index) const {
  if (index < 0 || index >= static_cast<int>(d->captions.size())) return QString();
  return d->captions[static_cast<std::size_t>(index)];
}

QString CrawlEngine::Lab(int index) const {
  if (index < 0 || index >= static_cast<int>(d->labs.size())) return QString();
  return d->labs[static_cast<std::size_t>(index)];
}

bool CrawlEngine::ListVisible() const { return d->listVisible; }

// ---- run log

void CrawlEngine::Ag(const QString& message) {
  const RunLog::Added added = d->log.Add(message);
  if (added.dumped) emit LogCleared();
  emit LogPrepended(added.line);
}

QString CrawlEngine::LogText() const { return d->log.Text(); }

// ---- the crawl step

void CrawlEngine::Timer1_Timer() {
  // A tick that falls due while a step waits or fetches does not start a
  // second step inside the first.
  if (d->inStep) return;
  d->inStep = true;
  d->Step();
  d->inStep = false;
}

void CrawlEngine::Impl::Step() {
  if (!timer2.isActive()) timer2.start();

  // Seed stage: once per Start.
  if (HasWebAddress(seedList)) {
    const QStringList seeds = seedList.split(kCrLf);
    seedList.clear();
    for (const QString& seed : seeds) {
      if (HasWebAddress(seed)) {
        SetLab(7, seed);
        if (!AnalyseAndList(seed, nullptr)) return;
      }
      ShowCounters();
    }
    q->Ag(QStringLiteral("开始执行爬虫...."));
  }

  // Walk: newest row first; rows added meanwhile wait for the next step.
  const int count = lv.ItemCount();
  QString extension;  // carried from link to link within the step
  for (int row = count - 1; row >= 0; --row) {
    if (lv.ItemText(row, 2) != kAnalysed) {
      const QString link = lv.ItemText(row, 1);
      if (link.contains(QLatin1String("http"))) {
        lv.SetItemText(row, 2, kAnalysing);
        SetLab(7, QStringLiteral("Get ") + link);
        if (!AnalyseAndList(link, &extension)) return;
        WaitMs(BoxNumber(txt[3]));
        YieldNow();
        lv.SetItemText(row, 2, kAnalysed);
      }
    }
    ShowCounters();
  }
}

void CrawlEngine::Timer2_Timer() {
  if (d->inDispatch) return;
  d->inDispatch = true;
  qm::Timer2_Timer(d->downloads, *d);
  d->inDispatch = false;
}

// ---- timers and state

bool CrawlEngine::Timer1Enabled() const { return d->timer1Enabled; }
int CrawlEngine::Timer1Interval() const { return d->timer1Interval; }
QTimer& CrawlEngine::Timer2() { return d->timer2; }
AddressList& CrawlEngine::Lv() { return d->lv; }
bool CrawlEngine::Running() const { return d->running; }
QString CrawlEngine::SeedList() const { return d->seedList; }
std::int32_t CrawlEngine::ImgTotal() const { return d->imgTotal; }
CrawlSettings& CrawlEngine::Settings() { return d->settings; }
FingerprintSet& CrawlEngine::SeenLinks() { return d->seenLinks; }
DownloadState& CrawlEngine::Downloads() { return d->downloads; }
QString CrawlEngine::ProgramFolder() const { return d->programFolder; }
QString CrawlEngine::DataFolder() const { return d->dataFolder; }
std::int32_t CrawlEngine::MinSizeKb() const { return d->downloads.MinSizeKb.load(); }

}  // namespace qm
