#pragma once
// A loopback HTTP server for tests, on 127.0.0.1 and a free port. A route is
// the answer as written: status, header lines sent exactly as given, body;
// plus a delay (one longer than the client's time-out is a stall), a cut
// after some body bytes, no length header at all or a lower-case one. As
// options of the same server: HTTPS with a self-signed certificate for a
// wrong host name; and a forward proxy for plain HTTP (or one refusing all).
// Every request is recorded.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qmtest {

struct Route {
  int status = 200;
  std::string reason;                    // empty: "Answer"
  std::vector<std::string> headerLines;  // "Name: value", sent as written
  std::string body;
  int delayMs = 0;               // wait before answering; the server's end cuts it short
  long cutAfter = -1;            // >= 0: send only this many body bytes, then close
  bool noContentLength = false;  // no length header: the body ends with the connection
  bool lowerCaseLength = false;  // "content-length: " instead of "Content-Length: "
};

struct RecordedRequest {
  std::string method;
  std::string target;                                        // as sent, query included
  std::vector<std::pair<std::string, std::string>> headers;  // name case kept
  std::string body;
  std::string Header(const std::string& name) const;  // any case; "" when absent
};

class LoopbackServer {
 public:
  enum class Scheme { Http, Https };
  explicit LoopbackServer(Scheme scheme = Scheme::Http);
  ~LoopbackServer();

  // The route for a target: the whole target, else its path without the
  // query, else "*"; else 404.
  void ServeFn(const std::string& path, std::function<Route(const RecordedRequest&)> fn);
  void Serve(const std::string& path, Route route) {
    ServeFn(path, [route = std::move(route)](const RecordedRequest&) { return route; });
  }
  int Port() const { return port_; }
  std::string Url(const std::string& path = "/") const {  // "http(s)://127.0.0.1:PORT" + path
    return (https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
  }
  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const { return Requests().size(); }
  void ClearRequests();

 private:
  bool https_;
  int port_ = 0;  // set while `d` is made
  struct Impl;
  std::unique_ptr<Impl> d;
};

// The server as a forward proxy for plain HTTP: an absolute-form request goes
// on to the loopback server it names; `refuse` answers everything 403.
class ForwardProxy : public LoopbackServer {
 public:
  explicit ForwardProxy(bool refuse = false);
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
