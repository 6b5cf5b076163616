#pragma once
// Loopback HTTP(S) servers for tests: routes with a given status, header lines
// sent exactly as given (name case kept), a body, an optional delay, an
// optional cut-off mid-body and an optional missing Content-Length; a record
// of every request received. Listens on 127.0.0.1 only, on a free port.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qmtest {

struct Route {
  int status = 200;
  std::string reason;                    // empty: a standard reason phrase
  std::vector<std::string> headerLines;  // "Name: value", sent as written
  std::string body;
  int delayMs = 0;                       // wait before answering
  long cutAfter = -1;                    // >= 0: send only this many body bytes, then close
  bool noContentLength = false;          // send no Content-Length (body ends with the connection)
  bool lowerCaseLength = false;          // spell the length header "content-length: "
};

struct RecordedRequest {
  std::string method;
  std::string target;                                          // path and query as sent
  std::vector<std::pair<std::string, std::string>> headers;   // name case kept
  std::string body;
  std::string Header(const std::string& name) const;          // case-insensitive lookup, "" if absent
  bool HasHeader(const std::string& name) const;
};

class LoopbackServer {
 public:
  enum class Scheme { Http, Https };
  // Https uses a self-signed certificate made at start-up for a wrong host name.
  explicit LoopbackServer(Scheme scheme = Scheme::Http);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Serves `route` for an exact target path (query string excluded from the match
  // unless `path` holds one); "*" answers every path served by no other route.
  // Unknown paths get 404 with a short body.
  void Serve(const std::string& path, Route route);
  // Dynamic answer, for tests that need it.
  void ServeFn(const std::string& path, std::function<Route(const RecordedRequest&)> fn);

  int Port() const;
  // "http://127.0.0.1:PORT" + path (or https).
  std::string Url(const std::string& path = "/") const;
  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  void ClearRequests();

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

// A small forward proxy on 127.0.0.1: plain HTTP requests with absolute
// targets are forwarded; CONNECT is tunnelled. `refuse` answers every request
// with 403 without forwarding.
class ForwardProxy {
 public:
  explicit ForwardProxy(bool refuse = false);
  ~ForwardProxy();
  int Port() const;
  std::string HostPort() const;  // "127.0.0.1:PORT"
  std::size_t RequestCount() const;
  std::vector<std::string> Targets() const;  // request targets as received

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

// A port on 127.0.0.1 that nothing listens on.
int ClosedPort();

// A fresh temporary folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace qmtest
