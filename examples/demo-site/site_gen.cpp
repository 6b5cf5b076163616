// Writes the project's sample sites: the demo site a newcomer crawls first,
// and the large generated sites the benchmarks run against. Everything here is
// made by this program; no outside content.
//
//   qm_site_gen demo  OUT                      the demo site (32 pages, images, one GBK page)
//   qm_site_gen pages OUT N [LINKS] [IMAGES]    N pages under /p/, each linking LINKS others and
//                                               naming IMAGES distinct pictures
//   qm_site_gen images OUT N MINKB MAXKB        N image files of MINKB..MAXKB kilobytes, and list.txt
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

QRandomGenerator gRandom(20261206);

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  return f.write(bytes) == bytes.size();
}

// Filler prose, so that every page passes the crawler's minimum page length.
QString Filler(int paragraphs, int seed) {
  static const char* kWords[] = {"山", "水", "云", "花", "猫", "狗", "城市", "夜景", "春天", "河流",
                                 "photo", "light", "street", "garden", "river", "morning"};
  QString out;
  QRandomGenerator r(static_cast<quint32>(seed));
  for (int p = 0; p < paragraphs; ++p) {
    out += "<p>";
    for (int w = 0; w < 60; ++w) {
      out += QString::fromUtf8(kWords[r.bounded(16)]);
      out += (w % 9 == 8) ? "，" : " ";
    }
    out += "</p>\n";
  }
  return out;
}

// An image whose encoded size lands near `kb` kilobytes: noise compresses badly,
// so the pixel count sets the size.
QByteArray MakeImage(int kb, const char* format, int seed) {
  QRandomGenerator r(static_cast<quint32>(seed));
  int side = 64;
  QByteArray bytes;
  for (int attempt = 0; attempt < 12; ++attempt) {
    QImage img(side, side, QImage::Format_RGB32);
    for (int y = 0; y < side; ++y) {
      auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < side; ++x) line[x] = 0xFF000000u | (r.generate() & 0xFFFFFFu);
    }
    QPainter p(&img);
    p.setPen(QColor(255, 128, 0));
    p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("qm %1").arg(seed));
    p.end();
    QBuffer buf(&bytes);
    bytes.clear();
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format, 90);
    const double ratio = (kb * 1024.0) / std::max<qsizetype>(bytes.size(), 1);
    if (ratio > 0.9 && ratio < 1.1) break;
    side = std::max(16, static_cast<int>(side * std::sqrt(ratio)));
  }
  return bytes;
}

QString Page(const QString& title, const QString& description, const QString& keywords,
             const QString& body, const QString& charsetMeta = QStringLiteral("utf-8")) {
  return QStringLiteral(
             "<!DOCTYPE html>\n<html><head>\n<meta charset=\"%1\">\n<title>%2</title>\n"
             "<meta name=\"description\" content=\"%3\">\n<meta name=\"keywords\" content=\"%4\">\n"
             "</head><body>\n%5</body></html>\n")
      .arg(charsetMeta, title, description, keywords, body);
}

int Demo(const QString& out) {
  struct Folder {
    const char* name;
    const char* topic;
  };
  const Folder folders[] = {{"animals", "猫 狗 动物图片"}, {"city", "城市 夜景 图片"},
                            {"nature", "风景 山水 图片"}};
  const int perFolder = 10;
  // Images: several sizes and types; some below the default bound of 100 KB.
  struct Img {
    QString path;
    int kb;
    const char* format;
  };
  QList<Img> images;
  int seed = 1;
  for (const Folder& f : folders) {
    for (int i = 1; i <= 4; ++i) {
      const int kb = (i == 4) ? 40 : 110 + 40 * i;  // one small picture per folder
      images.append({QStringLiteral("/img/%1/%1-%2.jpg").arg(f.name).arg(i), kb, "JPG"});
    }
    images.append({QStringLiteral("/img/%1/%1-icon.png").arg(f.name), 20, "PNG"});
  }
  for (const Img& im : images)
    if (!WriteFile(out + im.path, MakeImage(im.kb, im.format, seed++))) return 1;

  auto pageUrl = [&](int folder, int i) {
    return QStringLiteral("/%1/page%2.html").arg(folders[folder].name).arg(i);
  };
  // Home page.
  QString home = "<h1>示例图片站</h1>\n<ul>\n";
  for (int f = 0; f < 3; ++f)
    home += QStringLiteral("<li><a href=\"%1\">%2</a></li>\n")
                .arg(pageUrl(f, 1), QString::fromUtf8(folders[f].topic));
  home += "<li><a href=\"/gbk.html\">GBK 页面</a></li>\n</ul>\n";
  home += "<p><a href=\"http://off-site.invalid/elsewhere.html\">站外链接</a></p>\n";
  home += Filler(50, 0);
  if (!WriteFile(out + "/index.html", Page(QStringLiteral("示例图片站 - 首页 图片"),
                                           QStringLiteral("一个用于演示的小型图片网站"),
                                           QStringLiteral("图片,演示"), home)
                                          .toUtf8()))
    return 1;

  for (int f = 0; f < 3; ++f) {
    for (int i = 1; i <= perFolder; ++i) {
      QString body = QStringLiteral("<h1>%1 第%2页</h1>\n").arg(QString::fromUtf8(folders[f].topic)).arg(i);
      // Two pictures per page, from this folder's set; the icon on every page.
      for (int k = 0; k < 2; ++k) {
        const Img& im = images[f * 5 + (i + k) % 4];
        body += QStringLiteral("<img src=\"%1\" alt=\"\">\n").arg(im.path);
      }
      body += QStringLiteral("<img src=\"/img/%1/%1-icon.png\">\n").arg(folders[f].name);
      body += QStringLiteral("<a href=\"%1\">下一页</a> ").arg(pageUrl(f, i % perFolder + 1));
      body += QStringLiteral("<a href=\"%1\">其他</a> ").arg(pageUrl((f + 1) % 3, i));
      body += QStringLiteral("<a href=\"/index.html\">首页</a> ");
      body += QStringLiteral("<a href=\"http://off-site.invalid/%1/%2.html\">站外</a>\n").arg(folders[f].name).arg(i);
      body += Filler(50, f * 100 + i);
      const QString title = QStringLiteral("%1 %2").arg(QString::fromUtf8(folders[f].topic)).arg(i);
      if (!WriteFile(out + pageUrl(f, i),
                     Page(title, QStringLiteral("示例页面"), QStringLiteral("图片"), body).toUtf8()))
        return 1;
    }
  }
  // One page written in GBK, declared only by its meta tag.
  QString gbkBody = "<h1>GBK 编码的页面</h1>\n<img src=\"/img/nature/nature-1.jpg\">\n"
                    "<a href=\"/index.html\">首页</a>\n" +
                    Filler(50, 999);
  QStringEncoder gbk("GBK");
  if (!WriteFile(out + "/gbk.html", gbk.encode(Page(QStringLiteral("GBK 图片 页面"), QStringLiteral("中文编码"),
                                                   QStringLiteral("图片"), gbkBody, QStringLiteral("gbk")))))
    return 1;
  std::printf("demo site: 32 pages, %lld images in %s\n", static_cast<long long>(images.size()), qPrintable(out));
  return 0;
}

int Pages(const QString& out, int n, int links, int imagesPerPage) {
  // The pictures are only referred to: the benchmarks queue them (crawler)
  // or reject them (wget), neither fetches them.
  const QString filler = Filler(45, 1);
  for (int i = 0; i < n; ++i) {
    QString body;
    body.reserve(filler.size() + 2048);
    for (int k = 1; k <= links; ++k)
      body += QStringLiteral("<a href=\"/p/%1.html\">%1</a>\n").arg((i * 7 + k * 13) % n);
    for (int k = 0; k < imagesPerPage; ++k)
      body += QStringLiteral("<img src=\"/i/%2-%1.jpg\">\n").arg(k).arg(i);
    body += filler;
    if (!WriteFile(out + QStringLiteral("/p/%1.html").arg(i),
                   Page(QStringLiteral("page %1").arg(i), "bench", "bench", body).toUtf8()))
      return 1;
  }
  std::printf("%d pages in %s\n", n, qPrintable(out));
  return 0;
}

int Images(const QString& out, int n, int minKb, int maxKb) {
  QByteArray list;
  QByteArray chunk(maxKb * 1024, '\0');
  for (int i = 0; i < n; ++i) {
    const int size = (minKb + static_cast<int>(gRandom.bounded(maxKb - minKb + 1))) * 1024;
    for (int b = 0; b < size; b += 4) {
      const quint32 v = gRandom.generate();
      std::memcpy(chunk.data() + b, &v, std::min(4, size - b));
    }
    const QString name = QStringLiteral("/img/%1.jpg").arg(i);
    if (!WriteFile(out + name, chunk.left(size))) return 1;
    list += name.toUtf8() + "\n";
  }
  WriteFile(out + "/list.txt", list);
  std::printf("%d images in %s\n", n, qPrintable(out));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);  // fonts for the text drawn on the pictures
  const QStringList a = app.arguments();
  if (a.size() >= 3 && a[1] == "demo") return Demo(a[2]);
  if (a.size() >= 4 && a[1] == "pages")
    return Pages(a[2], a[3].toInt(), a.size() > 4 ? a[4].toInt() : 20, a.size() > 5 ? a[5].toInt() : 10);
  if (a.size() >= 6 && a[1] == "images") return Images(a[2], a[3].toInt(), a[4].toInt(), a[5].toInt());
  std::fprintf(stderr, "usage: qm_site_gen demo OUT | pages OUT N [LINKS] [IMAGES] | images OUT N MINKB MAXKB\n");
  return 2;
}
