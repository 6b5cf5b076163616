#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <list>
#include <set>
#include <stdexcept>
#include <thread>

namespace qmtest {
namespace {

constexpr std::size_t kMaxHead = 256 * 1024;

// The TLS context of every HTTPS test server: a self-signed certificate for
// the host name "wrong.invalid", made once per test process. A peer that
// closes its socket while a server writes must not end the test program;
// OpenSSL writes with plain write(), so SIGPIPE is ignored as well.
SSL_CTX* ServerTlsContext() {
  static SSL_CTX* const ctx = [] {
    std::signal(SIGPIPE, SIG_IGN);
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (!key || !cert) throw std::runtime_error("cannot make a test certificate");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("wrong.invalid"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    if (X509_EXTENSION* san =
            X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "DNS:wrong.invalid")) {
      X509_add_ext(cert, san, -1);
      X509_EXTENSION_free(san);
    }
    SSL_CTX* made = SSL_CTX_new(TLS_server_method());
    if (!X509_sign(cert, key, EVP_sha256()) || !made || SSL_CTX_use_certificate(made, cert) != 1 ||
        SSL_CTX_use_PrivateKey(made, key) != 1)
      throw std::runtime_error("cannot set up the test TLS context");
    X509_free(cert);
    EVP_PKEY_free(key);
    return made;
  }();
  return ctx;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool IEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsAny(const std::string& name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return IEquals(name, n); });
}

// True when the comma-separated header value holds `token` (any case).
bool HasToken(const std::string& value, const std::string& token) {
  for (std::size_t start = 0; start <= value.size();) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    if (IEquals(Trim(value.substr(start, comma - start)), token)) return true;
    start = comma + 1;
  }
  return false;
}

// Writes all of `data` to a plain socket. False when the peer is gone.
bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Waits until `fd` is readable or `stopFd` signals: 1 readable, 0 stop or
// error, -1 time-out.
int WaitReadable(int fd, int stopFd, int timeoutMs) {
  pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
  int r;
  do {
    r = ::poll(fds, fd < 0 ? 1 : 2, timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return -1;
  return r < 0 || (fds[0].revents & POLLIN) ? 0 : 1;
}

// One accepted (or connected) socket, plain or TLS. Every wait also watches the
// owner's stop signal, so a stopping server never waits on a slow peer.
class Stream {
 public:
  Stream(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
  ~Stream() { Close(); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Server side TLS handshake. False on failure.
  bool AcceptTls(SSL_CTX* ctx) {
    ssl_ = SSL_new(ctx);
    return ssl_ && SSL_set_fd(ssl_, fd_) == 1 && SSL_accept(ssl_) == 1;
  }
  // Reads some bytes: > 0 bytes read, 0 end of stream, error or stop, -1 time-out.
  long Read(char* buf, std::size_t size, int timeoutMs = -1) {
    if (fd_ < 0) return 0;
    if (!ssl_ || !SSL_has_pending(ssl_)) {
      const int ready = WaitReadable(fd_, stopFd_, timeoutMs);
      if (ready <= 0) return ready;
    }
    if (ssl_) {
      const int n = SSL_read(ssl_, buf, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
      return n > 0 ? n : 0;
    }
    ssize_t n;
    do {
      n = ::recv(fd_, buf, size, 0);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? n : 0;
  }
  bool Write(const char* data, std::size_t size) {
    if (fd_ < 0) return false;
    if (!ssl_) return SendAll(fd_, data, size);
    while (size > 0) {
      const int n = SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  // Ends the sending side (TLS close_notify, then FIN), then reads and drops
  // whatever the peer still sends, until it closes or two seconds pass.
  void Finish() {
    if (fd_ < 0) return;
    if (ssl_) SSL_shutdown(ssl_);
    ::shutdown(fd_, SHUT_WR);
    char chunk[4096];
    while (Read(chunk, sizeof chunk, 2000) > 0) {
    }
  }
  // Waits `ms` milliseconds; false when the owner stops meanwhile.
  bool Sleep(int ms) const { return WaitReadable(-1, stopFd_, ms) < 0; }
  void Close() {
    if (ssl_) SSL_free(ssl_);
    ssl_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }
  int StopFd() const { return stopFd_; }

 private:
  int fd_;
  int stopFd_;
  SSL* ssl_ = nullptr;
};

// Listens on 127.0.0.1 with a free port and runs `handler` on a thread of its
// own for every connection. Stop() (also run by the destructor) closes the
// listener, interrupts every connection and joins every thread.
class Acceptor {
 public:
  using Handler = std::function<void(Stream&)>;
  explicit Acceptor(Handler handler) : handler_(std::move(handler)) {
    ServerTlsContext();  // SIGPIPE ignored, and the certificate made before the first client
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (stopFd_ < 0 || listenFd_ < 0) throw std::runtime_error("cannot create a loopback socket");
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 128) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      ::close(listenFd_);
      ::close(stopFd_);
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
  }
  ~Acceptor() {
    Stop();
    ::close(stopFd_);
  }

  void Stop() {
    if (stopping_.exchange(true)) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(stopFd_, &one, sizeof one);
    acceptThread_.join();
    ::close(listenFd_);
    std::list<std::unique_ptr<Worker>> workers;
    {
      std::lock_guard lock(mutex_);
      for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
      workers.swap(workers_);
    }
    for (auto& w : workers) w->thread.join();
  }
  int Port() const { return port_; }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop() {
    while (WaitReadable(listenFd_, stopFd_, -1) > 0) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::list<std::unique_ptr<Worker>> finished;
      std::lock_guard lock(mutex_);
      for (auto it = workers_.begin(); it != workers_.end();)
        it = (*it)->done ? (finished.push_back(std::move(*it)), workers_.erase(it)) : std::next(it);
      for (auto& w : finished) w->thread.join();
      Worker* w = workers_.emplace_back(std::make_unique<Worker>()).get();
      openFds_.insert(fd);
      w->thread = std::thread([this, w, fd] {
        Stream stream(fd, stopFd_);
        try {
          handler_(stream);
        } catch (...) {
          // A broken connection ends only itself.
        }
        // Forget and close the socket in one step, so Stop() never shuts down
        // a descriptor number that has been reused meanwhile.
        std::lock_guard inner(mutex_);
        openFds_.erase(fd);
        stream.Close();
        w->done = true;
      });
    }
  }

  Handler handler_;
  int listenFd_ = -1;
  int stopFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::list<std::unique_ptr<Worker>> workers_;
  std::set<int> openFds_;
};

// A request or response head: the three words of the first line and the
// header lines in order, name case kept.
struct Head {
  std::string first, second, third;
  std::vector<std::pair<std::string, std::string>> headers;
  const std::string* Find(const std::string& name) const {
    for (const auto& [n, v] : headers)
      if (IEquals(n, name)) return &v;
    return nullptr;
  }
};

// Reads up to `end`, taking first from `buffer` (which keeps what follows);
// `text` receives what came before it. False on end of stream, stop or more
// than kMaxHead bytes without `end`.
bool ReadUntil(Stream& stream, std::string& buffer, const std::string& end, std::string& text) {
  for (std::size_t scanned = 0;;) {
    const std::size_t at = buffer.find(end, scanned);
    if (at != std::string::npos) {
      text = buffer.substr(0, at);
      buffer.erase(0, at + end.size());
      return true;
    }
    if (buffer.size() > kMaxHead) return false;
    scanned = buffer.size() < end.size() ? 0 : buffer.size() - end.size() + 1;
    char chunk[16384];
    const long n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

// Reads exactly `size` more bytes onto `out`, taking first from `buffer`.
bool ReadExact(Stream& stream, std::string& buffer, std::size_t size, std::string& out) {
  while (buffer.size() < size) {
    char chunk[16384];
    const long n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  out.append(buffer, 0, size);
  buffer.erase(0, size);
  return true;
}

// Reads a head and splits it into its first line's words and its header lines.
bool ReadHead(Stream& stream, std::string& buffer, Head& head) {
  head = Head{};
  std::string raw;
  if (!ReadUntil(stream, buffer, "\r\n\r\n", raw)) return false;
  const std::string first = raw.substr(0, raw.find("\r\n"));
  const std::size_t sp1 = first.find(' ');
  if (sp1 == std::string::npos) return false;
  const std::size_t sp2 = first.find(' ', sp1 + 1);
  head.first = first.substr(0, sp1);
  head.second = first.substr(sp1 + 1, sp2 == std::string::npos ? sp2 : sp2 - sp1 - 1);
  if (sp2 != std::string::npos) head.third = first.substr(sp2 + 1);
  for (std::size_t pos = first.size() + 2; pos < raw.size();) {
    const std::size_t end = std::min(raw.find("\r\n", pos), raw.size());
    const std::string line = raw.substr(pos, end - pos);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos)
      head.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    pos = end + 2;
  }
  return true;
}

// Reads a request body announced by Content-Length or chunked encoding.
bool ReadBody(Stream& stream, std::string& buffer, const Head& head, std::string& body) {
  body.clear();
  const std::string* te = head.Find("Transfer-Encoding");
  std::string line;
  if (te && HasToken(*te, "chunked")) {
    for (;;) {
      if (!ReadUntil(stream, buffer, "\r\n", line)) return false;
      char* end = nullptr;
      const unsigned long long size = std::strtoull(line.c_str(), &end, 16);
      if (end == line.c_str()) return false;
      if (size == 0) {
        do {  // trailer lines up to the blank line
          if (!ReadUntil(stream, buffer, "\r\n", line)) return false;
        } while (!line.empty());
        return true;
      }
      if (!ReadExact(stream, buffer, static_cast<std::size_t>(size), body) ||
          !ReadUntil(stream, buffer, "\r\n", line) || !line.empty())
        return false;
    }
  }
  const std::string* cl = head.Find("Content-Length");
  if (!cl) return true;
  char* end = nullptr;
  const unsigned long long size = std::strtoull(cl->c_str(), &end, 10);
  if (end == cl->c_str()) return false;
  body.reserve(static_cast<std::size_t>(size));
  return ReadExact(stream, buffer, static_cast<std::size_t>(size), body);
}

// Connects to `host`:`port`, where host must name the loopback interface
// ("127.0.0.1" or "localhost"). -1 on failure or any other host.
int ConnectLoopback(const std::string& host, int port) {
  if ((host != "127.0.0.1" && !IEquals(host, "localhost")) || port <= 0 || port > 65535) return -1;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

const char* ReasonPhrase(int status) {
  static const std::map<int, const char*> kReasons{{100, "Continue"},
                                                   {200, "OK"},
                                                   {201, "Created"},
                                                   {204, "No Content"},
                                                   {206, "Partial Content"},
                                                   {301, "Moved Permanently"},
                                                   {302, "Found"},
                                                   {303, "See Other"},
                                                   {304, "Not Modified"},
                                                   {307, "Temporary Redirect"},
                                                   {308, "Permanent Redirect"},
                                                   {400, "Bad Request"},
                                                   {401, "Unauthorized"},
                                                   {403, "Forbidden"},
                                                   {404, "Not Found"},
                                                   {405, "Method Not Allowed"},
                                                   {500, "Internal Server Error"},
                                                   {502, "Bad Gateway"},
                                                   {503, "Service Unavailable"}};
  const auto it = kReasons.find(status);
  return it == kReasons.end() ? "Unknown" : it->second;
}

// The path of a target: the query is cut off and an absolute-form target
// ("http://host:port/path") loses its scheme and authority.
std::string PathOf(std::string path) {
  const std::size_t scheme = path.find("://");
  if (scheme != std::string::npos && path.find('/') > scheme) {
    const std::size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  return path.substr(0, path.find('?'));
}

std::string HeaderName(const std::string& line) {
  const std::size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

bool ClientWantsClose(const Head& head) {
  const std::string* connection = head.Find("Connection");
  if (connection && HasToken(*connection, "close")) return true;
  return head.third == "HTTP/1.0" && !(connection && HasToken(*connection, "keep-alive"));
}

void SendSimple(Stream& stream, int status, const std::string& body) {
  stream.Write("HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
               "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body);
  stream.Finish();
}

// Copies bytes both ways between two plain sockets until both directions end.
void Relay(int a, int b, int stopFd) {
  bool open[2] = {true, true};
  const int fds[2] = {a, b};
  std::string buf(65536, '\0');
  while (open[0] || open[1]) {
    pollfd polled[3] = {
        {stopFd, POLLIN, 0}, {open[0] ? a : -1, POLLIN, 0}, {open[1] ? b : -1, POLLIN, 0}};
    if (::poll(polled, 3, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (polled[0].revents) return;
    for (int i = 0; i < 2; ++i) {
      if (!polled[i + 1].revents) continue;
      const ssize_t r = ::recv(fds[i], buf.data(), buf.size(), 0);
      if (r <= 0) {
        open[i] = false;
        ::shutdown(fds[1 - i], SHUT_WR);
      } else if (!SendAll(fds[1 - i], buf.data(), static_cast<std::size_t>(r))) {
        return;
      }
    }
  }
}

// Connects to a loopback "host[:port]"; -1 when it names no loopback server.
int ConnectAuthority(const std::string& authority, int defaultPort) {
  const std::size_t colon = authority.rfind(':');
  int port = defaultPort;
  if (colon != std::string::npos) {
    try {
      port = std::stoi(authority.substr(colon + 1));
    } catch (...) {
      return -1;
    }
  }
  const std::string host = authority.substr(0, colon);
  return host.empty() ? -1 : ConnectLoopback(host, port);
}

}  // namespace

// ---- RecordedRequest

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (IEquals(n, name)) return v;
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return IEquals(h.first, name); });
}

// ---- LoopbackServer

struct LoopbackServer::Impl {
  struct Entry {
    std::shared_ptr<const Route> route;
    std::function<Route(const RecordedRequest&)> fn;
  };

  Scheme scheme = Scheme::Http;
  mutable std::mutex mutex;
  std::map<std::string, std::shared_ptr<const Entry>> routes;
  std::vector<RecordedRequest> requests;
  std::unique_ptr<Acceptor> acceptor;

  void Add(const std::string& path, Entry entry) {
    std::lock_guard lock(mutex);
    routes[path] = std::make_shared<const Entry>(std::move(entry));
  }

  // Records the request and finds its answer.
  std::shared_ptr<const Route> Answer(const RecordedRequest& request) {
    std::shared_ptr<const Entry> entry;
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
      auto it = routes.find(request.target);
      if (it == routes.end()) it = routes.find(PathOf(request.target));
      if (it == routes.end()) it = routes.find("*");
      if (it != routes.end()) entry = it->second;
    }
    if (!entry) {
      static const auto notFound = [] {
        auto r = std::make_shared<Route>();
        r->status = 404;
        r->headerLines = {"Content-Type: text/html"};
        r->body = "<html><body><h1>404 Not Found</h1></body></html>";
        return r;
      }();
      return notFound;
    }
    return entry->fn ? std::make_shared<const Route>(entry->fn(request)) : entry->route;
  }

  void Handle(Stream& stream) {
    if (scheme == Scheme::Https && !stream.AcceptTls(ServerTlsContext())) return;
    std::string buffer;
    for (Head head; ReadHead(stream, buffer, head);) {
      const std::string* expect = head.Find("Expect");
      if (expect && IEquals(*expect, "100-continue")) stream.Write("HTTP/1.1 100 Continue\r\n\r\n");
      RecordedRequest request{head.first, head.second, head.headers, {}};
      if (!ReadBody(stream, buffer, head, request.body)) return;

      const std::shared_ptr<const Route> route = Answer(request);
      if (route->delayMs > 0 && !stream.Sleep(route->delayMs)) return;

      std::string out = "HTTP/1.1 " + std::to_string(route->status) + " " +
                        (route->reason.empty() ? ReasonPhrase(route->status) : route->reason) +
                        "\r\n";
      bool lengthGiven = false;
      for (const std::string& line : route->headerLines) {
        out += line + "\r\n";
        lengthGiven |= IsAny(HeaderName(line), {"Content-Length", "Transfer-Encoding"});
      }
      if (!route->noContentLength && !lengthGiven)
        out += (route->lowerCaseLength ? "content-length: " : "Content-Length: ") +
               std::to_string(route->body.size()) + "\r\n";
      out += "\r\n";
      std::size_t bodySize = route->body.size();
      if (route->cutAfter >= 0)
        bodySize = std::min(bodySize, static_cast<std::size_t>(route->cutAfter));
      if (head.first == "HEAD") bodySize = 0;
      bool ok;
      if (bodySize < 65536) {
        ok = stream.Write(out.append(route->body, 0, bodySize));
      } else {
        ok = stream.Write(out) && stream.Write(route->body.data(), bodySize);
      }
      if (!ok) return;
      if (route->cutAfter >= 0 || route->noContentLength || ClientWantsClose(head))
        return stream.Finish();
    }
  }
};

LoopbackServer::LoopbackServer(Scheme scheme) : d(std::make_unique<Impl>()) {
  d->scheme = scheme;
  Impl* impl = d.get();
  d->acceptor = std::make_unique<Acceptor>([impl](Stream& s) { impl->Handle(s); });
}

LoopbackServer::~LoopbackServer() { d->acceptor->Stop(); }

void LoopbackServer::Serve(const std::string& path, Route route) {
  d->Add(path, {std::make_shared<const Route>(std::move(route)), {}});
}

void LoopbackServer::ServeFn(const std::string& path,
                             std::function<Route(const RecordedRequest&)> fn) {
  d->Add(path, {nullptr, std::move(fn)});
}

int LoopbackServer::Port() const { return d->acceptor->Port(); }

std::string LoopbackServer::Url(const std::string& path) const {
  return std::string(d->scheme == Scheme::Https ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(Port()) + path;
}

std::vector<RecordedRequest> LoopbackServer::Requests() const {
  std::lock_guard lock(d->mutex);
  return d->requests;
}

std::size_t LoopbackServer::RequestCount() const {
  std::lock_guard lock(d->mutex);
  return d->requests.size();
}

void LoopbackServer::ClearRequests() {
  std::lock_guard lock(d->mutex);
  d->requests.clear();
}

// ---- ForwardProxy

struct ForwardProxy::Impl {
  bool refuse = false;
  mutable std::mutex mutex;
  std::vector<std::string> targets;
  std::unique_ptr<Acceptor> acceptor;

  void Handle(Stream& client) {
    std::string buffer;
    Head head;
    if (!ReadHead(client, buffer, head)) return;
    {
      std::lock_guard lock(mutex);
      targets.push_back(head.second);
    }
    const bool connect = IEquals(head.first, "CONNECT");
    if (refuse) {
      std::string ignored;
      if (!connect) ReadBody(client, buffer, head, ignored);
      return SendSimple(client, 403, "proxy refuses requests");
    }
    return connect ? Tunnel(client, head, buffer) : Forward(client, head, buffer);
  }

  // CONNECT host:port: a byte tunnel to a loopback server.
  static void Tunnel(Stream& client, const Head& head, const std::string& early) {
    const int fd = ConnectAuthority(head.second, 443);
    if (fd < 0) return SendSimple(client, 502, "cannot reach " + head.second);
    Stream upstream(fd, client.StopFd());
    if (!client.Write("HTTP/1.1 200 Connection established\r\n\r\n")) return;
    if (!early.empty() && !upstream.Write(early)) return;
    Relay(client.Fd(), upstream.Fd(), client.StopFd());
  }

  // An absolute-form request: sent on to the server in origin form, one
  // request per connection ("Connection: close" both ways).
  static void Forward(Stream& client, const Head& head, std::string& buffer) {
    const std::string& target = head.second;
    std::string body;
    if (target.size() < 7 || !IEquals(target.substr(0, 7), "http://") ||
        !ReadBody(client, buffer, head, body))
      return SendSimple(client, 400, "absolute http target expected");
    const std::size_t pathStart = target.find_first_of("/?", 7);
    const std::string authority =
        target.substr(7, pathStart == std::string::npos ? std::string::npos : pathStart - 7);
    std::string path = pathStart == std::string::npos ? "/" : target.substr(pathStart);
    if (path[0] == '?') path.insert(0, "/");
    const int fd = ConnectAuthority(authority, 80);
    if (fd < 0) return SendSimple(client, 502, "cannot reach " + authority);
    Stream upstream(fd, client.StopFd());

    std::string request = head.first + " " + path + " " + head.third + "\r\n";
    bool hadBody = false;
    for (const auto& [name, value] : head.headers) {
      hadBody |= IsAny(name, {"Content-Length", "Transfer-Encoding"});
      if (!IsAny(name, {"Content-Length", "Transfer-Encoding", "Connection", "Proxy-Connection",
                        "Keep-Alive", "Proxy-Authorization"}))
        request += name + ": " + value + "\r\n";
    }
    if (hadBody) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n" + body;
    if (!upstream.Write(request)) return SendSimple(client, 502, "upstream write failed");

    std::string upBuffer, raw;
    if (!ReadUntil(upstream, upBuffer, "\r\n\r\n", raw))
      return SendSimple(client, 502, "no answer from upstream");
    // The answer's head with its connection headers replaced.
    std::string answer;
    for (std::size_t pos = 0; pos < raw.size();) {
      const std::size_t end = std::min(raw.find("\r\n", pos), raw.size());
      const std::string line = raw.substr(pos, end - pos);
      if (pos == 0 || !IsAny(HeaderName(line), {"Connection", "Keep-Alive", "Proxy-Connection"}))
        answer += line + "\r\n";
      pos = end + 2;
    }
    if (!client.Write(answer + "Connection: close\r\n\r\n" + upBuffer)) return;
    std::string chunk(65536, '\0');
    for (long n; (n = upstream.Read(chunk.data(), chunk.size())) > 0;)
      if (!client.Write(chunk.data(), static_cast<std::size_t>(n))) break;
    client.Finish();
  }
};

ForwardProxy::ForwardProxy(bool refuse) : d(std::make_unique<Impl>()) {
  d->refuse = refuse;
  Impl* impl = d.get();
  d->acceptor = std::make_unique<Acceptor>([impl](Stream& s) { impl->Handle(s); });
}

ForwardProxy::~ForwardProxy() { d->acceptor->Stop(); }

int ForwardProxy::Port() const { return d->acceptor->Port(); }

std::string ForwardProxy::HostPort() const { return "127.0.0.1:" + std::to_string(Port()); }

std::size_t ForwardProxy::RequestCount() const {
  std::lock_guard lock(d->mutex);
  return d->targets.size();
}

std::vector<std::string> ForwardProxy::Targets() const {
  std::lock_guard lock(d->mutex);
  return d->targets;
}

}  // namespace qmtest
