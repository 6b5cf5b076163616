#pragma once
// Page analysis written the plain way, by whole-text splits and a fingerprint
// list held as text: the fast analysis is held against it by the crawl tests
// and the page analysis fuzz target.
#include <QString>
#include <QStringList>
#include <cstdint>

#include "web/filters.h"
#include "web/md5.h"
#include "web/text.h"

namespace qmtest {

inline QString ReferenceAnalyse(QString p, QString& address, QString& images,
                                std::int32_t& imgCount, std::int32_t& linkCount,
                                const qm::CrawlSettings& s, QString& seenText) {
  p.replace("content=\"http", "src='http");
  p.replace("src=http", "src='http");
  if (p.size() < 5120) return QString();
  const QString fields = qm::CutText(p, "<title>", "<") + "\r\n" +
                         qm::CutText(p, "description\" content=\"", "\"") + "\r\n" +
                         qm::CutText(p, "keywords\" content=\"", "\"");
  if (!qm::KeyWordMatch(fields, s)) return QString();
  const QString root = qm::SiteRoot(address, 0);
  p = p.replace('"', '\'').toLower().replace("\\/", "/");
  images.clear();
  imgCount = 0;
  for (const QString& piece : p.split("src='")) {
    const qsizetype q = piece.indexOf('\'');
    QString c = q < 0 ? QString() : piece.left(q);
    if (c.startsWith('/')) c = root + c.mid(1);
    if (qm::FileTypeMatch(c, s)) {
      images += c + "\r\n";
      ++imgCount;
    }
  }
  QString list;
  linkCount = 0;
  for (const QString& piece : p.split("href='")) {
    const qsizetype q = piece.indexOf('\'');
    QString l = piece.left(q);
    if (l.startsWith('/')) l.remove(0, 1);
    if (q < 0 || l.contains(' ') || l.size() < 2 || l.contains("javascript:")) continue;
    if (!l.startsWith("http")) l = root + l.replace("//", "/");
    const QString f = qm::Md5Text(l, 16);
    if (seenText.contains(f) || list.contains(l)) continue;
    if (!s.SiteOnly || qm::InSite(l, s)) {
      list += l + "\r\n";
      ++linkCount;
    }
    seenText += f + ',';
  }
  return list;
}

}  // namespace qmtest
