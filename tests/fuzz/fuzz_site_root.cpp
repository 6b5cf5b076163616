#include "fuzz_util.h"
#include "web/filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QString address = FuzzText(data, size);
  const QString root = qm::SiteRoot(address, 0);
  // The rewritten address always has a scheme and ends in "/"; so does the root.
  if (!address.endsWith(QLatin1Char('/')) || !root.endsWith(QLatin1Char('/'))) __builtin_trap();
  if (!address.startsWith(QLatin1String("http://")) && !address.startsWith(QLatin1String("https://")))
    __builtin_trap();
  return 0;
}
