#pragma once
// The one HTTP client of both programs, over libcurl.
#include <QByteArray>
#include <QString>
#include <QVariant>
#include <chrono>
#include <memory>

namespace qm {

// curl's global set-up; call once, before any thread starts. Idempotent.
void HttpGlobalInit();

// Result kinds of HttpRequest.
enum HttpResultKind : int { kHttpText = 1, kHttpBytes = 2, kHttpGbkText = 3 };

// Requests `address` and returns, by `kind`: 1 the body as text (charset of the
// Content-Type header, else a byte-order mark, else a <meta> charset, else
// UTF-8), 2 the body as QByteArray, 3 the body as BytesToText, any other kind an
// empty QVariant. On any failure: the QString "Error:" + message + "|errNum:" +
// number, with `responseHeaders` left as it was. On success `responseHeaders`
// receives the final response's header lines, each ended by CR LF, without the
// status line; `status`, when given, the final response's status code (the
// client itself never looks at it); `finalAddress`, when given, the address
// the response came from: `address` itself, or the last one a redirect
// named. `requestHeaders` holds lines
// "Name: value" joined by CR LF (empty: the one header CONTENT-TYPE:
// application/x-www-form-urlencoded is sent). `body` is sent only for POST.
// `proxy` is used only when it contains ":".
QVariant HttpRequest(const QString& address, int kind, const QString& requestHeaders,
                     const QVariant& body, const QString& method, QString& responseHeaders,
                     const QString& proxy, int* status = nullptr, QString* finalAddress = nullptr);

// GBK double-byte decoding: a byte below 0x80 is one character, a byte of 0x80
// or more is a lead byte taken with the next byte. A lead byte as the last byte
// fails (returns false).
bool BytesToText(const QByteArray& bytes, QString& text);

// Time-outs of the client: connecting may take `connect`; a transfer that
// receives nothing for `stall` fails. Defaults 60 s and 30 s. Tests shorten
// them through this interface; it applies to requests started afterwards on
// every thread.
struct HttpTimeouts {
  std::chrono::milliseconds connect{60000};
  std::chrono::milliseconds stall{30000};
};
void SetHttpTimeouts(const HttpTimeouts& timeouts);
HttpTimeouts GetHttpTimeouts();

// The request component: one per call, on the calling thread's reusable curl
// handle. It offers the operations HttpRequest uses, in this order.
class HttpComponent {
 public:
  HttpComponent();
  ~HttpComponent();
  HttpComponent(const HttpComponent&) = delete;
  HttpComponent& operator=(const HttpComponent&) = delete;

  // 2: which server-certificate errors to ignore (0x3300: all); 3: the client
  // certificate to present (kept; this platform has no store to find it in).
  void setoption(int option, const QVariant& value);
  // setting 2: use the named proxy ("host:port") for every request.
  void SetProxy(int setting, const QString& proxy);
  void open(const QString& method, const QString& address, bool async = false);
  void setRequestHeader(const QString& name, const QString& value);
  // Sends and waits for the whole response. Returns false on failure, with
  // errorMessage()/errorNumber() set.
  bool send(const QVariant& body = QVariant());
  int ReadyState() const;  // 4 = complete
  int Status() const;      // the final response's status code, 0 before one came
  // The address the final response came from: the opened one, or the last
  // one a redirect named (as sent, percent-encoded).
  QString FinalAddress() const;
  QString getAllResponseHeaders() const;
  QString Responsetext() const;
  QByteArray responseBody() const;

  QString errorMessage() const;
  int errorNumber() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace qm
