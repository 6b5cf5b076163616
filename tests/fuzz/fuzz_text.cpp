// The text helpers on arbitrary input: each keeps the shape of its result.
#include <cmath>

#include "download/downloader_command.h"
#include "web/browser_address.h"
#include "web/filters.h"
#include "web/http.h"
#include "web/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const QString in = QString::fromUtf8(bytes);
  QString out;
  // GBK decoding never makes more characters than bytes; nor does decoding
  // references or escapes.
  if (qm::BytesToText(bytes, out) && out.size() > bytes.size()) __builtin_trap();
  if (qm::DecodeCharacterReferences(in).size() > in.size()) __builtin_trap();
  if (const auto decoded = qm::DecodeUri(in); decoded && decoded->size() > in.size())
    __builtin_trap();
  // A resolved address is http or https and holds no list separator.
  if (qm::AddressBase(u"http://fuzz.example/a/b?q").Resolve(in, out)) {
    if (!out.startsWith(QLatin1String("http"))) __builtin_trap();
    if (out.contains(QLatin1Char('"'))) __builtin_trap();
  }
  // Settings numbers are whole; the 32-bit reader agrees with them.
  const double v = qm::LeadingNumber(in);
  if (std::isnan(v) || v != std::nearbyint(v)) __builtin_trap();
  if (const auto i = qm::LeadingInt32(in); i && static_cast<double>(*i) != v) __builtin_trap();
  // The downloader shows its usage exactly when the line holds no address.
  if (qm::ParseDownloaderCommandLine(in).usage == in.contains(QLatin1String("http")))
    __builtin_trap();
  // The site root and the rewritten address are http addresses ending in "/".
  out = in;
  if (!qm::SiteRoot(out, 0).endsWith(QLatin1Char('/')) || !out.endsWith(QLatin1Char('/')))
    __builtin_trap();
  if (!out.startsWith(QLatin1String("http"))) __builtin_trap();
  return 0;
}
