#include <cmath>

#include "fuzz_util.h"
#include "web/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString in = FuzzText(data, size);
  const double v = qm::LeadingNumber(in);
  if (std::isnan(v) || v != std::nearbyint(v)) __builtin_trap();
  const auto i = qm::LeadingInt32(in);
  if (i && static_cast<double>(*i) != v) __builtin_trap();
  (void)qm::LeadingDecimal(in);
  return 0;
}
