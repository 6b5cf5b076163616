// A small static file server on 127.0.0.1, for the demo site and the
// benchmarks: qm_serve DIR [PORT]. Port 0 (the default) picks a free port;
// the address is printed on the first line of standard output.
#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qm_serve DIR [PORT]\n");
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
  std::fflush(stdout);
  server.listen_after_bind();
  return 0;
}
