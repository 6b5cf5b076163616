// A small static file server on 127.0.0.1, for the demo site and the
// benchmarks: qm_serve [--demo] DIR [PORT]. Port 0 (the default) picks a free
// port; the address is printed on the first line of standard output. With
// --demo the walk-through of a first crawl follows it.
#include <httplib.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The crawler stands beside this server; its default image folder is there.
std::string ImageFolder() {
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder =
      n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./qm_serve");
  return folder.substr(0, folder.rfind('/')) + "/imgdown";
}

void PrintWalkThrough(int port) {
  std::printf(
      "\n"
      "A first crawl:\n"
      "  1. Click the fold bar (the thin bar under the counters) to unfold the window.\n"
      "  2. Type http://127.0.0.1:%d/ into 采集网址.\n"
      "  3. Click 只抓取站内 twice (off, then on): the crawl then stays on the demo site.\n"
      "  4. Click 开 始. Rows appear under 查看列表; pictures of at least 100 kb are saved into\n"
      "     %s within about ten seconds.\n"
      "  5. Click 停 止 when the counters stop changing.\n"
      "\n",
      port, ImageFolder().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const bool demo = argc > 1 && std::strcmp(argv[1], "--demo") == 0;
  if (demo) {
    --argc;
    ++argv;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: qm_serve [--demo] DIR [PORT]\n");
    return 2;
  }
  httplib::Server server;
  server.set_tcp_nodelay(true);  // small answers must not wait for the peer's delayed ACK
  if (!server.set_mount_point("/", argv[1])) {
    std::fprintf(stderr, "qm_serve: no such folder: %s\n", argv[1]);
    return 2;
  }
  server.set_file_extension_and_mimetype_mapping("html", "text/html");
  const int wanted = argc > 2 ? std::atoi(argv[2]) : 0;
  int port = wanted;
  if (wanted == 0) {
    port = server.bind_to_any_port("127.0.0.1");
  } else if (!server.bind_to_port("127.0.0.1", wanted)) {
    port = -1;
  }
  if (port <= 0) {
    std::fprintf(stderr, "qm_serve: cannot listen on 127.0.0.1:%d\n", wanted);
    return 1;
  }
  std::printf("http://127.0.0.1:%d/\n", port);
  if (demo) PrintWalkThrough(port);
  std::fflush(stdout);
  server.listen_after_bind();
  return 0;
}
