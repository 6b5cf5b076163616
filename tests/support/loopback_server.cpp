#include "support/loopback_server.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "support/loopback_net.h"

namespace qmtest {
namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

// The path of a target: the query is cut off and an absolute-form target
// ("http://host:port/path") loses its scheme and authority.
std::string PathOf(const std::string& target) {
  std::string path = target;
  std::size_t scheme = path.find("://");
  if (scheme != std::string::npos && path.find('/') > scheme) {
    std::size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  std::size_t query = path.find('?');
  if (query != std::string::npos) path.erase(query);
  return path;
}

std::string HeaderName(const std::string& line) {
  std::size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

bool ClientWantsClose(const net::Head& head) {
  const std::string* connection = head.Find("Connection");
  if (connection && net::HasToken(*connection, "close")) return true;
  if (head.third == "HTTP/1.0") return !(connection && net::HasToken(*connection, "keep-alive"));
  return false;
}

void SendSimple(net::Stream& stream, int status, const std::string& body) {
  stream.Write("HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
               "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body);
  stream.ShutdownWrite();
  stream.Drain(2000);
}

// Copies bytes both ways between two plain sockets until both directions end.
void Relay(int a, int b, int stopFd) {
  bool aOpen = true, bOpen = true;
  std::string buf(65536, '\0');
  while (aOpen || bOpen) {
    pollfd fds[3];
    int n = 0, ia = -1, ib = -1;
    if (aOpen) fds[ia = n++] = {a, POLLIN, 0};
    if (bOpen) fds[ib = n++] = {b, POLLIN, 0};
    fds[n++] = {stopFd, POLLIN, 0};
    if (::poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[n - 1].revents) return;
    auto pump = [&](int from, int to, bool& open) {
      ssize_t r = ::recv(from, buf.data(), buf.size(), 0);
      if (r <= 0) {
        open = false;
        ::shutdown(to, SHUT_WR);
        return true;
      }
      return net::SendAll(to, buf.data(), static_cast<std::size_t>(r));
    };
    if (ia >= 0 && fds[ia].revents && !pump(a, b, aOpen)) return;
    if (ib >= 0 && fds[ib].revents && !pump(b, a, bOpen)) return;
  }
}

bool SplitHostPort(const std::string& authority, int defaultPort, std::string& host, int& port) {
  std::size_t colon = authority.rfind(':');
  if (colon == std::string::npos) {
    host = authority;
    port = defaultPort;
    return !host.empty();
  }
  host = authority.substr(0, colon);
  try {
    port = std::stoi(authority.substr(colon + 1));
  } catch (...) {
    return false;
  }
  return !host.empty();
}

}  // namespace

// ---- RecordedRequest ----

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [n, v] : headers)
    if (net::IEquals(n, name)) return v;
  return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& h) { return net::IEquals(h.first, name); });
}

// ---- LoopbackServer ----

struct LoopbackServer::Impl {
  using Fn = std::function<Route(const RecordedRequest&)>;
  struct Entry {
    std::shared_ptr<const Route> route;
    Fn fn;
  };

  Scheme scheme = Scheme::Http;
  mutable std::mutex mutex;
  std::map<std::string, std::shared_ptr<const Entry>> routes;
  std::vector<RecordedRequest> requests;
  std::unique_ptr<net::Acceptor> acceptor;

  // Records the request and finds its answer.
  std::shared_ptr<const Route> Answer(const RecordedRequest& request) {
    std::shared_ptr<const Entry> entry;
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
      auto it = routes.find(request.target);
      if (it == routes.end()) it = routes.find(PathOf(request.target));
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
    if (entry->fn) return std::make_shared<const Route>(entry->fn(request));
    return entry->route;
  }

  void Handle(net::Stream& stream) {
    if (scheme == Scheme::Https && !stream.AcceptTls(net::ServerTlsContext())) return;
    std::string buffer;
    for (;;) {
      std::string raw;
      net::Head head;
      if (!net::ReadHead(stream, buffer, raw) || !net::ParseHead(raw, head)) return;
      const std::string* expect = head.Find("Expect");
      if (expect && net::IEquals(*expect, "100-continue"))
        stream.Write("HTTP/1.1 100 Continue\r\n\r\n");
      RecordedRequest request;
      request.method = head.first;
      request.target = head.second;
      request.headers = head.headers;
      if (!net::ReadBody(stream, buffer, head, request.body)) return;

      std::shared_ptr<const Route> route = Answer(request);
      if (route->delayMs > 0 && !stream.Sleep(route->delayMs)) return;

      std::string out = "HTTP/1.1 " + std::to_string(route->status) + " " +
                        (route->reason.empty() ? ReasonPhrase(route->status) : route->reason) +
                        "\r\n";
      bool lengthGiven = false;
      for (const std::string& line : route->headerLines) {
        out += line;
        out += "\r\n";
        const std::string name = HeaderName(line);
        if (net::IEquals(name, "Content-Length") || net::IEquals(name, "Transfer-Encoding"))
          lengthGiven = true;
      }
      if (!route->noContentLength && !lengthGiven) {
        out += route->lowerCaseLength ? "content-length: " : "Content-Length: ";
        out += std::to_string(route->body.size());
        out += "\r\n";
      }
      out += "\r\n";
      std::size_t bodySize = route->body.size();
      if (route->cutAfter >= 0)
        bodySize = std::min(bodySize, static_cast<std::size_t>(route->cutAfter));
      if (head.first == "HEAD") bodySize = 0;
      bool ok;
      if (bodySize < 65536) {
        out.append(route->body, 0, bodySize);
        ok = stream.Write(out);
      } else {
        ok = stream.Write(out) && stream.Write(route->body.data(), bodySize);
      }
      if (!ok) return;
      if (route->cutAfter >= 0 || route->noContentLength || ClientWantsClose(head)) {
        stream.ShutdownWrite();
        stream.Drain(2000);
        return;
      }
    }
  }
};

LoopbackServer::LoopbackServer(Scheme scheme) : d(std::make_unique<Impl>()) {
  d->scheme = scheme;
  if (scheme == Scheme::Https) net::ServerTlsContext();  // the certificate, before the first client
  Impl* impl = d.get();
  d->acceptor = std::make_unique<net::Acceptor>([impl](net::Stream& s) { impl->Handle(s); });
}

LoopbackServer::~LoopbackServer() { d->acceptor->Stop(); }

void LoopbackServer::Serve(const std::string& path, Route route) {
  auto entry = std::make_shared<Impl::Entry>();
  entry->route = std::make_shared<const Route>(std::move(route));
  std::lock_guard lock(d->mutex);
  d->routes[path] = std::move(entry);
}

void LoopbackServer::ServeFn(const std::string& path,
                             std::function<Route(const RecordedRequest&)> fn) {
  auto entry = std::make_shared<Impl::Entry>();
  entry->fn = std::move(fn);
  std::lock_guard lock(d->mutex);
  d->routes[path] = std::move(entry);
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

// ---- ForwardProxy ----

struct ForwardProxy::Impl {
  bool refuse = false;
  mutable std::mutex mutex;
  std::vector<std::string> targets;
  std::unique_ptr<net::Acceptor> acceptor;

  void Handle(net::Stream& client) {
    std::string buffer, raw;
    net::Head head;
    if (!net::ReadHead(client, buffer, raw) || !net::ParseHead(raw, head)) return;
    {
      std::lock_guard lock(mutex);
      targets.push_back(head.second);
    }
    const bool connect = net::IEquals(head.first, "CONNECT");
    if (refuse) {
      std::string ignored;
      if (!connect) net::ReadBody(client, buffer, head, ignored);
      SendSimple(client, 403, "proxy refuses requests");
      return;
    }
    if (connect) {
      Tunnel(client, head, buffer);
    } else {
      Forward(client, head, buffer);
    }
  }

  // CONNECT host:port: a byte tunnel to a loopback server.
  static void Tunnel(net::Stream& client, const net::Head& head, const std::string& early) {
    std::string host;
    int port = 0;
    int fd = -1;
    if (SplitHostPort(head.second, 443, host, port)) fd = net::ConnectLoopback(host, port);
    if (fd < 0) return SendSimple(client, 502, "cannot reach " + head.second);
    net::Stream upstream(fd, client.StopFd());
    if (!client.Write("HTTP/1.1 200 Connection established\r\n\r\n")) return;
    if (!early.empty() && !upstream.Write(early)) return;
    Relay(client.Fd(), upstream.Fd(), client.StopFd());
  }

  // An absolute-form request: sent on to the server in origin form, one
  // request per connection ("Connection: close" both ways).
  static void Forward(net::Stream& client, const net::Head& head, std::string& buffer) {
    const std::string& target = head.second;
    std::string body;
    if (target.size() < 7 || !net::IEquals(target.substr(0, 7), "http://") ||
        !net::ReadBody(client, buffer, head, body))
      return SendSimple(client, 400, "absolute http target expected");
    std::size_t pathStart = target.find_first_of("/?", 7);
    std::string authority =
        target.substr(7, pathStart == std::string::npos ? std::string::npos : pathStart - 7);
    std::string path = pathStart == std::string::npos ? "/" : target.substr(pathStart);
    if (path[0] == '?') path.insert(0, "/");
    std::string host;
    int port = 0;
    int fd = -1;
    if (SplitHostPort(authority, 80, host, port)) fd = net::ConnectLoopback(host, port);
    if (fd < 0) return SendSimple(client, 502, "cannot reach " + authority);
    net::Stream upstream(fd, client.StopFd());

    std::string request = head.first + " " + path + " " + head.third + "\r\n";
    bool hadBody = false;
    for (const auto& [name, value] : head.headers) {
      if (net::IEquals(name, "Content-Length") || net::IEquals(name, "Transfer-Encoding")) {
        hadBody = true;
        continue;
      }
      if (net::IEquals(name, "Connection") || net::IEquals(name, "Proxy-Connection") ||
          net::IEquals(name, "Keep-Alive") || net::IEquals(name, "Proxy-Authorization"))
        continue;
      request += name + ": " + value + "\r\n";
    }
    if (hadBody) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "Connection: close\r\n\r\n";
    request += body;
    if (!upstream.Write(request)) return SendSimple(client, 502, "upstream write failed");

    std::string upBuffer, upRaw;
    if (!net::ReadHead(upstream, upBuffer, upRaw))
      return SendSimple(client, 502, "no answer from upstream");
    // The answer's head with its connection headers replaced.
    std::string answer;
    std::size_t pos = 0;
    bool first = true;
    while (pos < upRaw.size()) {
      std::size_t end = upRaw.find("\r\n", pos);
      if (end == pos) break;
      std::string line = upRaw.substr(pos, end - pos);
      pos = end + 2;
      const std::string name = HeaderName(line);
      if (!first && (net::IEquals(name, "Connection") || net::IEquals(name, "Keep-Alive") ||
                     net::IEquals(name, "Proxy-Connection")))
        continue;
      first = false;
      answer += line + "\r\n";
    }
    answer += "Connection: close\r\n\r\n";
    answer += upBuffer;
    if (!client.Write(answer)) return;
    std::string chunk(65536, '\0');
    for (;;) {
      long n = upstream.Read(chunk.data(), chunk.size());
      if (n <= 0 || !client.Write(chunk.data(), static_cast<std::size_t>(n))) break;
    }
    client.ShutdownWrite();
    client.Drain(2000);
  }
};

ForwardProxy::ForwardProxy(bool refuse) : d(std::make_unique<Impl>()) {
  d->refuse = refuse;
  Impl* impl = d.get();
  d->acceptor = std::make_unique<net::Acceptor>([impl](net::Stream& s) { impl->Handle(s); });
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
