// The text helpers on arbitrary input: each keeps the shape of its result.
#include <cmath>

#include "download/downloader_command.h"
#include "fuzz_util.h"
#include "web/filters.h"
#include "web/http.h"
#include "web/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString in = FuzzText(data, size);
  QString text;
  // GBK decoding never makes more characters than bytes.
  if (qm::BytesToText(bytes, text) && text.size() > bytes.size()) __builtin_trap();
  // A cut is "Nothing" or a piece of the text (markers: the input split at its first NUL).
  const qsizetype nul = in.indexOf(QChar(u'\0'));
  const QString body = in.left(nul), markers = nul < 0 ? QString() : in.mid(nul + 1);
  const QString cut =
      qm::CutText(body, markers.left(markers.size() / 2), markers.mid(markers.size() / 2));
  if (cut != QLatin1String("Nothing") && !body.contains(cut)) __builtin_trap();
  // Decoding never lengthens, and a text without "%" stays as it is.
  if (const auto out = qm::DecodeUri(in)) {
    if (out->size() > in.size() || (!in.contains(QLatin1Char('%')) && *out != in)) __builtin_trap();
  }
  // Settings numbers are whole; the 32-bit reader agrees with them.
  const double v = qm::LeadingNumber(in);
  if (std::isnan(v) || v != std::nearbyint(v)) __builtin_trap();
  if (const auto i = qm::LeadingInt32(in); i && static_cast<double>(*i) != v) __builtin_trap();
  (void)qm::LeadingDecimal(in);
  // The downloader shows its usage exactly when the line holds no address.
  if (qm::ParseDownloaderCommandLine(in).usage == in.contains(QLatin1String("http")))
    __builtin_trap();
  // The site root and the rewritten address have a scheme and end in "/".
  QString address = in;
  const QString root = qm::SiteRoot(address, 0);
  if (!address.endsWith(QLatin1Char('/')) || !root.endsWith(QLatin1Char('/'))) __builtin_trap();
  if (!address.startsWith(QLatin1String("http://")) &&
      !address.startsWith(QLatin1String("https://")))
    __builtin_trap();
  return 0;
}
