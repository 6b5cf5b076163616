#include <QByteArray>

#include "fuzz_util.h"
#include "web/http.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString text;
  const bool ok = qm::BytesToText(bytes, text);
  // Never more characters than bytes.
  if (ok && text.size() > bytes.size()) __builtin_trap();
  return 0;
}
