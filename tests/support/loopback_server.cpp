#include "support/loopback_server.h"

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace qmtest {
using namespace std::literals;
namespace {

bool Is(const std::string& a, const std::string& b) { return !::strcasecmp(a.c_str(), b.c_str()); }

// A socket on 127.0.0.1: connected to `port`, or (port 0) bound to a free
// port, written to `bound`. -1 on failure.
int LoopbackSocket(int port, int* bound = nullptr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{AF_INET, htons(static_cast<in_port_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  auto* sa = reinterpret_cast<sockaddr*>(&a);
  socklen_t len = sizeof a;
  if (port > 0 ? ::connect(fd, sa, len) : ::bind(fd, sa, len) || ::getsockname(fd, sa, &len))
    return ::close(fd), -1;
  if (bound) *bound = ntohs(a.sin_port);
  return fd;
}

// Waits until `fd` (-1: none) is readable or `ms` pass (-1: no limit); false
// once `stop` is signalled.
bool Wait(int stop, int fd, int ms = -1) {
  pollfd p[2] = {{stop, POLLIN, 0}, {fd, POLLIN, 0}};
  while (::poll(p, 2, ms) < 0) continue;
  return !p[0].revents;
}

// A self-signed certificate for the host "wrong.invalid", made once per program.
SSL_CTX* TlsContext() {
  static SSL_CTX* const ctx = [] {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7 * 24 * 3600);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("wrong.invalid"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX* made = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(made, cert);
    SSL_CTX_use_PrivateKey(made, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return made;
  }();
  return ctx;
}

// Blocking sockets send everything at once, or fail.
bool Send(int fd, const std::string& s, SSL* ssl = nullptr) {
  return (ssl ? SSL_write(ssl, s.data(), static_cast<int>(s.size()))
              : ::send(fd, s.data(), s.size(), 0)) == static_cast<long>(s.size());
}

// One connection, plain or TLS, with the bytes received and not yet used.
struct Conn {
  int fd, stop;
  SSL* ssl = nullptr;
  std::string in{};
  ~Conn() {
    if (ssl) SSL_shutdown(ssl);  // a body that ends with the connection needs close_notify
    SSL_free(ssl);
    ::close(fd);
  }
  bool Fill() {
    char buf[16384];
    if (!(ssl && SSL_pending(ssl)) && !Wait(stop, fd)) return false;
    const long n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::recv(fd, buf, sizeof buf, 0);
    in.append(buf, static_cast<std::size_t>(std::max(n, 0L)));
    return n > 0;
  }
  // A request head and the body its Content-Length announces; false when the peer ends first.
  bool Read(RecordedRequest& r) {
    std::size_t end, length;
    while ((end = in.find("\r\n\r\n")) == std::string::npos)
      if (in.size() > (4u << 20) || !Fill()) return false;
    std::istringstream head(in.substr(0, end + 2));
    std::string line;
    r = {};
    std::getline(head >> r.method >> r.target, line);
    while (std::getline(head, line)) {
      const std::size_t colon = line.find(':');
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      value.erase(value.find_last_not_of(" \t\r") + 1);
      if (colon != std::string::npos) r.headers.emplace_back(line.substr(0, colon), value);
    }
    for (length = std::strtoul(r.Header("Content-Length").c_str(), nullptr, 10);
         in.size() < end + 4 + length;)
      if (!Fill()) return false;
    r.body = in.substr(end + 4, length);
    in.erase(0, end + 4 + length);
    return true;
  }
};

// Copies bytes from one socket to another until the first ends or `stop` is signalled.
void Pump(int from, int to, int stop) {
  char buf[65536];
  for (long n; Wait(stop, from) && (n = ::recv(from, buf, sizeof buf, 0)) > 0;)
    if (!Send(to, std::string(buf, static_cast<std::size_t>(n)))) break;
  ::shutdown(to, SHUT_WR);
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (Is(n, name)) return v;
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  for (const auto& h : headers)
    if (Is(h.first, name)) return true;
  return false;
}

struct LoopbackServer::Impl {
  Mode mode;
  bool https;
  int listenFd, stop = ::eventfd(0, EFD_CLOEXEC);
  std::mutex mu{};
  std::map<std::string, std::function<Route(const RecordedRequest&)>> routes{};
  std::vector<RecordedRequest> requests{};
  std::thread acceptor{};
  std::vector<std::jthread> conns{};  // the acceptor's own until it has ended

  void Accept() {
    while (Wait(stop, listenFd)) {
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0)
        conns.emplace_back([this, fd] {
          Conn c{fd, stop};
          if (!https ||
              (c.ssl = SSL_new(TlsContext()), SSL_set_fd(c.ssl, fd) && SSL_accept(c.ssl) == 1))
            Handle(c);
        });
    }
  }

  void Handle(Conn& c) {
    for (RecordedRequest r; c.Read(r);) {
      std::function<Route(const RecordedRequest&)> fn;
      {
        std::lock_guard lock(mu);
        requests.push_back(r);
        for (const std::string& key : {r.target, r.target.substr(0, r.target.find('?')), "*"s})
          if (!fn && routes.count(key)) fn = routes[key];
      }
      if (mode != Mode::Serve) return Proxy(c, r);
      const Route route = fn ? fn(r) : Route{404, "Not Found", {}, "<h1>404 Not Found</h1>"};
      if (route.delayMs > 0 && !Wait(stop, -1, route.delayMs)) return;
      std::string out = "HTTP/1.1 " + std::to_string(route.status) + " " +
                        (route.reason.empty() ? "Answer" : route.reason) + "\r\n";
      bool lengthGiven = route.noContentLength;
      for (const std::string& line : route.headerLines) {
        const std::string name = line.substr(0, line.find(':'));
        lengthGiven |= Is(name, "Content-Length") || Is(name, "Transfer-Encoding");
        out += line + "\r\n";
      }
      if (!lengthGiven)
        out += (route.lowerCaseLength ? "content-length: " : "Content-Length: ") +
               std::to_string(route.body.size()) + "\r\n";
      const std::size_t size = r.method == "HEAD" ? 0 : route.body.size();
      // A cutAfter of -1 becomes the largest size: no cut.
      out.append("\r\n").append(route.body, 0, std::min(size, std::size_t(route.cutAfter)));
      if (!Send(c.fd, out, c.ssl) || route.cutAfter >= 0 || route.noContentLength ||
          r.Header("Connection").find("close") != std::string::npos)
        return;
    }
  }

  // CONNECT 127.0.0.1:PORT opens a tunnel; GET http://127.0.0.1:PORT/path is
  // sent on in origin form with "Connection: close" and the answer relayed back.
  void Proxy(Conn& c, const RecordedRequest& r) {
    const bool tunnel = r.method == "CONNECT";
    const std::string rest = tunnel                            ? r.target
                             : r.target.starts_with("http://") ? r.target.substr(7)
                                                               : "";
    const std::size_t colon = rest.find(':'), slash = std::min(rest.find('/'), rest.size());
    const int port = colon == std::string::npos ? 0 : std::atoi(rest.c_str() + colon + 1);
    const int up = mode == Mode::RefusingProxy || port <= 0 ? -1 : LoopbackSocket(port);
    if (up < 0 && mode == Mode::RefusingProxy)
      Send(c.fd,
           "HTTP/1.1 403 Forbidden\r\nContent-Length: 22\r\nConnection: close\r\n\r\n"
           "proxy refuses requests");
    if (up < 0) return;
    std::string head = r.method + " " + (slash < rest.size() ? rest.substr(slash) : "/") +
                       " HTTP/1.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : r.headers)
      if (!Is(name, "Connection") && !Is(name, "Proxy-Connection"))
        head += name + ": " + value + "\r\n";
    if (tunnel ? Send(c.fd, "HTTP/1.1 200 Connection established\r\n\r\n") && Send(up, c.in)
               : Send(up, head + "\r\n" + r.body + c.in)) {
      std::jthread back([&] { Pump(up, c.fd, stop); });
      Pump(c.fd, up, stop);
    }
    ::close(up);
  }
};

LoopbackServer::LoopbackServer(Scheme scheme, Mode mode)
    : https_(scheme == Scheme::Https), d(new Impl{mode, https_, LoopbackSocket(0, &port_)}) {
  std::signal(SIGPIPE, SIG_IGN);  // a peer gone mid-answer must not end the test program
  if (d->stop < 0 || d->listenFd < 0 || ::listen(d->listenFd, 128) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  d->acceptor = std::thread([this] { d->Accept(); });
}

LoopbackServer::~LoopbackServer() {
  const std::uint64_t one = 1;
  (void)!::write(d->stop, &one, sizeof one);  // wakes every wait of the server's threads
  d->acceptor.join();
  d->conns.clear();  // joins every connection's thread
  ::close(d->listenFd);
  ::close(d->stop);
}

void LoopbackServer::ServeFn(const std::string& path,
                             std::function<Route(const RecordedRequest&)> fn) {
  std::lock_guard lock(d->mu);
  d->routes[path] = std::move(fn);
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(d->mu);
  return d->requests;
}

void LoopbackServer::ClearRequests() {
  std::lock_guard lock(d->mu);
  d->requests.clear();
}

int ClosedPort() {
  int port = 0;
  ::close(LoopbackSocket(0, &port));  // bound, never listened on, closed
  return port;
}

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string()) {
  if (!::mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace qmtest
