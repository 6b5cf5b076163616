#include "web/filters.h"

#include <QStringList>

#include "web/text.h"

namespace qm {

QString SiteRoot(QString& address, int rootFlag) {
  // Decoded and lower-cased; an address that cannot be decoded is used as it
  // stands rather than becoming the word "Nothing".
  auto decoded = DecodeUri(address);
  QString a = (decoded ? *decoded : address).toLower();
  a.remove(QLatin1Char(' '));
  const bool http = a.startsWith(QLatin1String("http://"));
  const bool https = a.startsWith(QLatin1String("https://"));
  if (!a.startsWith(QLatin1String("www.")) && !http && !https)
    a.prepend(QLatin1String("http://www."));
  if (!a.startsWith(QLatin1String("http://")) && !a.startsWith(QLatin1String("https://")))
    a.prepend(QLatin1String("http://"));
  a.append(QLatin1Char('/'));
  address = a;
  if (rootFlag != 0) return QString();
  const QString scheme = https ? QStringLiteral("https://") : QStringLiteral("http://");
  return scheme + CutText(a, QStringLiteral("//"), QStringLiteral("/")) + QLatin1Char('/');
}

namespace {

// A substring test in which the empty text occurs in every non-empty text.
bool Occurs(const QString& haystack, QStringView needle,
            Qt::CaseSensitivity cs = Qt::CaseSensitive) {
  if (needle.isEmpty()) return !haystack.isEmpty();
  return haystack.contains(needle, cs);
}

}  // namespace

bool KeyWordMatch(const QString& fieldText, const CrawlSettings& settings) {
  const QString& keyWords = settings.KeyWords;
  if (keyWords.isEmpty()) return true;
  const QStringList pieces = keyWords.toLower().split(QLatin1Char('*'));
  if (pieces.size() == 1) return Occurs(fieldText, keyWords);
  for (const QString& piece : pieces)
    if (Occurs(fieldText, piece)) return true;
  return false;
}

bool FileTypeMatch(const QString& address, const CrawlSettings& settings) {
  const QString& types = settings.FileTypes;
  if (types.isEmpty()) return true;
  const qsizetype dot = address.lastIndexOf(QLatin1Char('.'));
  if (dot < 0 || types == QLatin1String("*")) return false;
  if (!settings.BrowserAddresses) return Occurs(types, QStringView(address).mid(dot + 1));
  if (Occurs(types, QStringView(address).mid(dot + 1), Qt::CaseInsensitive)) return true;
  // The file name's own extension: "p.jpg?w=1" is a jpg picture.
  qsizetype end = 0;
  while (end < address.size() && address[end] != u'?' && address[end] != u'#') ++end;
  const QStringView path = QStringView(address).first(end);
  const qsizetype nameDot = path.lastIndexOf(QLatin1Char('.'));
  return nameDot > path.lastIndexOf(QLatin1Char('/')) &&
         Occurs(types, path.mid(nameDot + 1), Qt::CaseInsensitive);
}

bool InSite(const QString& address, const CrawlSettings& settings) {
  const Qt::CaseSensitivity cs =
      settings.BrowserAddresses ? Qt::CaseInsensitive : Qt::CaseSensitive;
  const QString& base = settings.SiteBase;
  if (!base.contains(QLatin1String("http"), cs)) return false;
  const QString spaced = QLatin1Char(' ') + address;
  for (const QString& line : base.split(QStringLiteral("\r\n"))) {
    if (line.contains(QLatin1String("http"), cs) && spaced.contains(line, cs)) return true;
  }
  return false;
}

}  // namespace qm
