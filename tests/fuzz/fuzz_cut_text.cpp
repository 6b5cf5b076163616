#include "fuzz_util.h"
#include "web/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  QString text, markers;
  FuzzTwoTexts(data, size, text, markers);
  const QString start = markers.left(markers.size() / 2);
  const QString end = markers.mid(markers.size() / 2);
  const QString cut = qm::CutText(text, start, end);
  // The cut is "Nothing" or a piece of the text.
  if (cut != QLatin1String("Nothing") && !text.contains(cut)) __builtin_trap();
  return 0;
}
