#include "fuzz_util.h"
#include "web/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString in = FuzzText(data, size);
  const auto out = qm::DecodeUri(in);
  if (out) {
    // Decoding never lengthens a text, and a text without "%" stays as it is.
    if (out->size() > in.size()) __builtin_trap();
    if (!in.contains(QLatin1Char('%')) && *out != in) __builtin_trap();
  }
  return 0;
}
