#include "download/downloader_command.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString line = FuzzText(data, size);
  const qm::DownloaderJob job = qm::ParseDownloaderCommandLine(line);
  if (job.usage == line.contains(QLatin1String("http"))) __builtin_trap();
  return 0;
}
