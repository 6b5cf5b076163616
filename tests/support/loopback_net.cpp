#include "support/loopback_net.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
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
#include <mutex>
#include <stdexcept>

namespace qmtest::net {
namespace {

constexpr std::size_t kMaxHead = 256 * 1024;

// A peer that closes its socket while a server writes must not end the test
// program; OpenSSL writes with plain write(), so SIGPIPE is ignored here.
void IgnoreSigpipe() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

SSL_CTX* MakeTlsContext() {
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
  if (!X509_sign(cert, key, EVP_sha256()))
    throw std::runtime_error("cannot sign a test certificate");

  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx || SSL_CTX_use_certificate(ctx, cert) != 1 || SSL_CTX_use_PrivateKey(ctx, key) != 1)
    throw std::runtime_error("cannot set up the test TLS context");
  X509_free(cert);
  EVP_PKEY_free(key);
  return ctx;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// Reads exactly `size` more bytes into `out`, taking first from `buffer`.
bool ReadExact(Stream& stream, std::string& buffer, std::size_t size, std::string& out) {
  while (buffer.size() < size) {
    char chunk[16384];
    long n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  out.append(buffer, 0, size);
  buffer.erase(0, size);
  return true;
}

bool ReadLine(Stream& stream, std::string& buffer, std::string& line) {
  for (;;) {
    std::size_t end = buffer.find("\r\n");
    if (end != std::string::npos) {
      line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      return true;
    }
    if (buffer.size() > kMaxHead) return false;
    char chunk[4096];
    long n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

SSL_CTX* ServerTlsContext() {
  IgnoreSigpipe();
  static SSL_CTX* ctx = MakeTlsContext();
  return ctx;
}

// ---- Stream ----

Stream::Stream(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}

Stream::~Stream() { Close(); }

void Stream::Close() {
  if (ssl_) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool Stream::AcceptTls(SSL_CTX* ctx) {
  ssl_ = SSL_new(ctx);
  if (!ssl_) return false;
  SSL_set_fd(ssl_, fd_);
  return SSL_accept(ssl_) == 1;
}

long Stream::Read(char* buf, std::size_t size, int timeoutMs) {
  if (fd_ < 0) return 0;
  if (!ssl_ || !SSL_has_pending(ssl_)) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    int r;
    do {
      r = ::poll(fds, 2, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return -1;
    if (r < 0 || (fds[1].revents & POLLIN)) return 0;
  }
  if (ssl_) {
    int n = SSL_read(ssl_, buf, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
    return n > 0 ? n : 0;
  }
  ssize_t n;
  do {
    n = ::recv(fd_, buf, size, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 ? n : 0;
}

bool Stream::Write(const char* data, std::size_t size) {
  if (fd_ < 0) return false;
  if (!ssl_) return SendAll(fd_, data, size);
  while (size > 0) {
    int n = SSL_write(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void Stream::ShutdownWrite() {
  if (fd_ < 0) return;
  if (ssl_) SSL_shutdown(ssl_);
  ::shutdown(fd_, SHUT_WR);
}

void Stream::Drain(int timeoutMs) {
  char chunk[4096];
  while (Read(chunk, sizeof chunk, timeoutMs) > 0) {
  }
}

bool Stream::Sleep(int ms) const {
  pollfd fd = {stopFd_, POLLIN, 0};
  int r;
  do {
    r = ::poll(&fd, 1, ms);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

// ---- Acceptor ----

Acceptor::Acceptor(Handler handler) : handler_(std::move(handler)) {
  IgnoreSigpipe();
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (stopFd_ < 0 || listenFd_ < 0) throw std::runtime_error("cannot create a loopback socket");
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
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

Acceptor::~Acceptor() {
  Stop();
  ::close(stopFd_);
}

void Acceptor::Stop() {
  if (stopping_.exchange(true)) return;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t w = ::write(stopFd_, &one, sizeof one);
  acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
  std::list<std::unique_ptr<Worker>> workers;
  {
    std::lock_guard lock(mutex_);
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);
    workers.swap(workers_);
  }
  for (auto& w : workers) w->thread.join();
}

void Acceptor::ReapFinished() {
  std::list<std::unique_ptr<Worker>> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : finished) w->thread.join();
}

void Acceptor::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (fds[1].revents & POLLIN)) return;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ReapFinished();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    std::lock_guard lock(mutex_);
    openFds_.insert(fd);
    w->thread = std::thread([this, w, fd] {
      Stream stream(fd, stopFd_);
      try {
        handler_(stream);
      } catch (...) {
        // A broken connection ends only itself.
      }
      {
        // Forget and close the socket in one step, so Stop() never shuts down
        // a descriptor number that has been reused meanwhile.
        std::lock_guard inner(mutex_);
        openFds_.erase(fd);
        stream.Close();
      }
      w->done = true;
    });
    workers_.push_back(std::move(worker));
  }
}

// ---- heads ----

bool IEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool HasToken(const std::string& value, const std::string& token) {
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    if (IEquals(Trim(value.substr(start, comma - start)), token)) return true;
    start = comma + 1;
  }
  return false;
}

const std::string* Head::Find(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (IEquals(n, name)) return &v;
  return nullptr;
}

bool ReadHead(Stream& stream, std::string& buffer, std::string& raw) {
  std::size_t scanned = 0;
  for (;;) {
    std::size_t end = buffer.find("\r\n\r\n", scanned > 3 ? scanned - 3 : 0);
    if (end != std::string::npos) {
      raw = buffer.substr(0, end + 4);
      buffer.erase(0, end + 4);
      return true;
    }
    scanned = buffer.size();
    if (buffer.size() > kMaxHead) return false;
    char chunk[16384];
    long n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

bool ParseHead(const std::string& raw, Head& head) {
  head = Head{};
  std::size_t lineEnd = raw.find("\r\n");
  if (lineEnd == std::string::npos) return false;
  const std::string first = raw.substr(0, lineEnd);
  std::size_t sp1 = first.find(' ');
  if (sp1 == std::string::npos) return false;
  std::size_t sp2 = first.find(' ', sp1 + 1);
  head.first = first.substr(0, sp1);
  if (sp2 == std::string::npos) {
    head.second = first.substr(sp1 + 1);
  } else {
    head.second = first.substr(sp1 + 1, sp2 - sp1 - 1);
    head.third = first.substr(sp2 + 1);
  }
  std::size_t pos = lineEnd + 2;
  while (pos < raw.size()) {
    std::size_t end = raw.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string line = raw.substr(pos, end - pos);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos)
      head.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    pos = end + 2;
  }
  return true;
}

bool ReadBody(Stream& stream, std::string& buffer, const Head& head, std::string& body) {
  body.clear();
  const std::string* te = head.Find("Transfer-Encoding");
  if (te && HasToken(*te, "chunked")) {
    for (;;) {
      std::string line;
      if (!ReadLine(stream, buffer, line)) return false;
      char* end = nullptr;
      unsigned long long size = std::strtoull(line.c_str(), &end, 16);
      if (end == line.c_str()) return false;
      if (size == 0) {
        // Trailer lines up to the blank line.
        do {
          if (!ReadLine(stream, buffer, line)) return false;
        } while (!line.empty());
        return true;
      }
      if (!ReadExact(stream, buffer, static_cast<std::size_t>(size), body)) return false;
      if (!ReadLine(stream, buffer, line) || !line.empty()) return false;
    }
  }
  const std::string* cl = head.Find("Content-Length");
  if (!cl) return true;
  char* end = nullptr;
  unsigned long long size = std::strtoull(cl->c_str(), &end, 10);
  if (end == cl->c_str()) return false;
  body.reserve(static_cast<std::size_t>(size));
  return ReadExact(stream, buffer, static_cast<std::size_t>(size), body);
}

int ConnectLoopback(const std::string& host, int port) {
  if (host != "127.0.0.1" && !IEquals(host, "localhost")) return -1;
  if (port <= 0 || port > 65535) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

}  // namespace qmtest::net
