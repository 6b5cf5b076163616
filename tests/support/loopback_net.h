#pragma once
// Socket plumbing of the loopback servers: a listening socket on 127.0.0.1
// with one thread per connection, plain or TLS streams, HTTP/1.1 heads.
#include <openssl/ssl.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qmtest::net {

// The TLS context of every HTTPS test server: a self-signed certificate for
// the host name "wrong.invalid", made once per test process.
SSL_CTX* ServerTlsContext();

// One accepted (or connected) socket, plain or TLS. Every wait also watches the
// owner's stop signal, so a stopping server never waits on a slow peer.
class Stream {
 public:
  Stream(int fd, int stopFd);
  ~Stream();
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Server side TLS handshake. False on failure.
  bool AcceptTls(SSL_CTX* ctx);
  // Reads some bytes: > 0 bytes read, 0 end of stream, error or stop, -1 time-out.
  long Read(char* buf, std::size_t size, int timeoutMs = -1);
  bool Write(const char* data, std::size_t size);
  bool Write(const std::string& text) { return Write(text.data(), text.size()); }
  // Ends the sending side (TLS close_notify, then FIN).
  void ShutdownWrite();
  // Reads and drops whatever the peer still sends, until it closes or `timeoutMs` passes.
  void Drain(int timeoutMs);
  // Waits `ms` milliseconds; false when the owner stops meanwhile.
  bool Sleep(int ms) const;
  void Close();
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
  explicit Acceptor(Handler handler);
  ~Acceptor();
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

  void Stop();
  int Port() const { return port_; }
  int StopFd() const { return stopFd_; }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void ReapFinished();

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
  const std::string* Find(const std::string& name) const;
};

bool IEquals(const std::string& a, const std::string& b);
// True when the comma-separated header value holds `token` (any case).
bool HasToken(const std::string& value, const std::string& token);

// Reads up to the end of a head. `buffer` holds bytes already read and keeps
// the bytes that follow the head. `raw` receives the head as sent, with its
// blank line. False on end of stream, stop or a head too large.
bool ReadHead(Stream& stream, std::string& buffer, std::string& raw);
// Splits a head into its first line's words and its header lines.
bool ParseHead(const std::string& raw, Head& head);
// Reads a request body announced by Content-Length or chunked encoding.
bool ReadBody(Stream& stream, std::string& buffer, const Head& head, std::string& body);

// Writes all of `data` to a plain socket. False when the peer is gone.
bool SendAll(int fd, const char* data, std::size_t size);

// Connects to `host`:`port`, where host must name the loopback interface
// ("127.0.0.1" or "localhost"). -1 on failure or any other host.
int ConnectLoopback(const std::string& host, int port);

}  // namespace qmtest::net
