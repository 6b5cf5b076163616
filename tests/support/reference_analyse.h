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
  p.replace(QStringLiteral("content=\"http"), QStringLiteral("src='http"));
  p.replace(QStringLiteral("src=http"), QStringLiteral("src='http"));
  if (p.size() < 5120) return QString();
  const QString fields =
      qm::CutText(p, QStringLiteral("<title>"), QStringLiteral("<")) + QStringLiteral("\r\n") +
      qm::CutText(p, QStringLiteral("description\" content=\""), QStringLiteral("\"")) +
      QStringLiteral("\r\n") +
      qm::CutText(p, QStringLiteral("keywords\" content=\""), QStringLiteral("\""));
  if (!qm::KeyWordMatch(fields, s)) return QString();
  const QString root = qm::SiteRoot(address, 0);
  p.replace(QLatin1Char('"'), QLatin1Char('\''));
  p = p.toLower();
  p.replace(QStringLiteral("\\/"), QStringLiteral("/"));
  QString found;
  std::int32_t n = 0;
  for (const QString& piece : p.split(QStringLiteral("src='"))) {
    const qsizetype q = piece.indexOf(QLatin1Char('\''));
    QString c = q < 0 ? QString() : piece.left(q);
    if (c.startsWith(QLatin1Char('/'))) c = root + c.mid(1);
    if (qm::FileTypeMatch(c, s)) {
      found += c + QStringLiteral("\r\n");
      ++n;
    }
  }
  images = found;
  imgCount = n;
  QString list;
  std::int32_t m = 0;
  for (const QString& piece : p.split(QStringLiteral("href='"))) {
    const qsizetype q = piece.indexOf(QLatin1Char('\''));
    if (q < 0) continue;
    QString l = piece.left(q);
    if (l.startsWith(QLatin1Char('/'))) l.remove(0, 1);
    if (l.contains(QLatin1Char(' ')) || l.size() < 2 || l.contains(QStringLiteral("javascript:")))
      continue;
    if (!l.startsWith(QStringLiteral("http"))) {
      l.replace(QStringLiteral("//"), QStringLiteral("/"));
      l = root + l;
    }
    const QString f = qm::Md5Text(l, 16);
    if (seenText.contains(f) || list.contains(l)) continue;
    if (!s.SiteOnly || qm::InSite(l, s)) {
      list += l + QStringLiteral("\r\n");
      ++m;
    }
    seenText += f + QLatin1Char(',');
  }
  linkCount = m;
  return list;
}

}  // namespace qmtest
