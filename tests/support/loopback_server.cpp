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

#include "web/http.h"

namespace qmtest {
using std::string;
using Answer = std::function<Route(const RecordedRequest&)>;
namespace {

bool Is(const string& a, const string& b) { return !::strcasecmp(a.c_str(), b.c_str()); }

// A socket bound to a free port on 127.0.0.1, written to `port`.
int BoundSocket(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
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

// One connection, plain or TLS, with the bytes received and not yet used.
// Blocking sockets send everything at once, or fail.
struct Conn {
  int fd, stop;
  SSL* ssl = nullptr;
  string in{};
  ~Conn() {
    if (ssl) SSL_shutdown(ssl);  // a body that ends with the connection needs close_notify
    SSL_free(ssl);
    ::close(fd);
  }
  bool Send(const string& s) {
    const long n = ssl ? SSL_write(ssl, s.data(), static_cast<int>(s.size()))
                       : ::send(fd, s.data(), s.size(), 0);
    return n == static_cast<long>(s.size());
  }
  bool Fill() {
    char buf[16384];
    if (!(ssl && SSL_pending(ssl)) && !Wait(stop, fd)) return false;
    const long n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::recv(fd, buf, sizeof buf, 0);
    in.append(buf, std::max(n, 0L));
    return n > 0;
  }
  // A request head and the body its Content-Length announces; false when the
  // peer ends first.
  bool Read(RecordedRequest& r) {
    std::size_t end;
    while ((end = in.find("\r\n\r\n")) == string::npos)
      if (!Fill()) return false;
    std::istringstream head(in.substr(0, end + 2));
    string line;
    r = {};
    std::getline(head >> r.method >> r.target, line);
    while (std::getline(head, line)) {  // "Name: value\r" or "Name:\r"
      const std::size_t colon = line.find(':');
      r.headers.emplace_back(line.substr(0, colon),
                             line.substr(colon + 2, line.size() - colon - 3));
    }
    const std::size_t length = std::strtoul(r.Header("Content-Length").c_str(), nullptr, 10);
    while (in.size() < end + 4 + length)
      if (!Fill()) return false;
    r.body = in.substr(end + 4, length);
    in.erase(0, end + 4 + length);
    return true;
  }
};

}  // namespace

string RecordedRequest::Header(const string& name) const {
  for (const auto& [n, v] : headers)
    if (Is(n, name)) return v;
  return {};
}

struct LoopbackServer::Impl {
  bool https;
  int listenFd, stop = ::eventfd(0, EFD_CLOEXEC);
  std::mutex mu{};
  std::map<string, Answer> routes{};
  std::vector<RecordedRequest> requests{};
  std::thread acceptor{};
  std::vector<std::jthread> conns{};  // the acceptor's own until it has ended

  void Accept() {
    while (Wait(stop, listenFd)) {
      const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) conns.emplace_back([this, fd] { Handle(fd); });
    }
  }

  void Handle(int fd) {
    Conn c{fd, stop};
    if (https) {
      c.ssl = SSL_new(TlsContext());
      if (!SSL_set_fd(c.ssl, fd) || SSL_accept(c.ssl) != 1) return;
    }
    for (RecordedRequest r; c.Read(r);) {
      Answer fn;
      {
        std::lock_guard lock(mu);
        requests.push_back(r);
        for (const string& key : {string("*"), r.target.substr(0, r.target.find('?')), r.target})
          if (routes.count(key)) fn = routes[key];
      }
      const Route route = fn ? fn(r) : Route{404, "Not Found", {}, "<h1>404 Not Found</h1>"};
      if (route.delayMs > 0 && !Wait(stop, -1, route.delayMs)) return;
      string out = "HTTP/1.1 " + std::to_string(route.status) + " " +
                   (route.reason.empty() ? "Answer" : route.reason) + "\r\n";
      bool lengthGiven = route.noContentLength;
      for (const string& line : route.headerLines) {
        const string name = line.substr(0, line.find(':'));
        lengthGiven |= Is(name, "Content-Length") || Is(name, "Transfer-Encoding");
        out += line + "\r\n";
      }
      if (!lengthGiven)
        out += (route.lowerCaseLength ? "content-length: " : "Content-Length: ") +
               std::to_string(route.body.size()) + "\r\n";
      // A cutAfter of -1 becomes the largest size: no cut.
      out.append("\r\n").append(route.body, 0, std::size_t(route.cutAfter));
      if (!c.Send(out) || route.cutAfter >= 0 || route.noContentLength) return;
    }
  }
};

LoopbackServer::LoopbackServer(Scheme scheme)
    : https_(scheme == Scheme::Https), d(new Impl{https_, BoundSocket(port_)}) {
  std::signal(SIGPIPE, SIG_IGN);  // a peer gone mid-answer must not end the test program
  if (::listen(d->listenFd, 128) != 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  d->acceptor = std::thread([this] { d->Accept(); });
}

LoopbackServer::~LoopbackServer() {
  ::eventfd_write(d->stop, 1);  // wakes every wait of the server's threads
  d->acceptor.join();
  d->conns.clear();  // joins every connection's thread
  ::close(d->listenFd);
  ::close(d->stop);
}

void LoopbackServer::ServeFn(const string& path, Answer fn) {
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

// Each request goes on, fetched with the programs' own client; its status and
// body come back.
ForwardProxy::ForwardProxy(bool refuse) {
  ServeFn("*", [refuse](const RecordedRequest& r) {
    QString headers;
    int status = 403;
    const QVariant body =
        refuse ? QVariant("refused")
               : qm::HttpRequest(QString::fromStdString(r.target), qm::kHttpBytes, "Via: proxy",
                                 QByteArray::fromStdString(r.body),
                                 QString::fromStdString(r.method), headers, {}, &status);
    return Route{status, {}, {}, body.toByteArray().toStdString()};
  });
}

int ClosedPort() {
  int port = 0;
  ::close(BoundSocket(port));  // bound, never listened on, closed
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
