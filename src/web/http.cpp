#include "web/http.h"

#include <curl/curl.h>

#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>

#include "web/gbk.h"
#include "web/yield.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOptionServerCertErrors = 2;
constexpr int kOptionClientCertificate = 3;
constexpr int kIgnoreUnknownCa = 0x0100;
constexpr int kIgnoreWrongUsage = 0x0200;
constexpr int kIgnoreNameMismatch = 0x1000;
constexpr int kIgnoreExpired = 0x2000;
constexpr int kIgnoreAllCertErrors = 0x3300;
constexpr int kProxyNamed = 2;
constexpr int kReadyOpened = 1;
constexpr int kReadyComplete = 4;

// Failures found by the component itself, numbered apart from curl's codes.
constexpr int kErrorNotOpen = 1001;
constexpr int kErrorBadArgument = 1002;
constexpr int kErrorTruncatedDoubleByte = 1003;
constexpr int kErrorMulti = 1004;

// curl's receive buffer: larger buffers measured slower on loopback transfers
// of 100-300 KB images (more copying per write callback), smaller ones no faster.
constexpr long kReceiveBufferSize = 16 * 1024;
constexpr qsizetype kMaxReserve = 64 * 1024 * 1024;
constexpr int kPollMs = 10;
constexpr auto kYieldInterval = std::chrono::milliseconds(5);
constexpr qsizetype kMetaScanBytes = 16 * 1024;

const char kUserAgent[] = "Mozilla/5.0 (compatible; qm/1.0)";
const char kDefaultClientCertificate[] = "VeriSign Class 3 Public Primary CA";

std::once_flag gInitOnce;
std::atomic<long long> gConnectMs{60000};
std::atomic<long long> gStallMs{30000};

// The calling thread's curl handles: one easy handle reused by every request
// of the thread (live connections and the DNS and TLS session caches survive
// between requests), and a multi handle for waits that let the window's
// events run. A request started while the thread's handle is in use (from a
// yield hook, inside another request's wait) gets handles of its own.
struct ThreadHandles {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  bool busy = false;
  ~ThreadHandles() {
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
  }
};
thread_local ThreadHandles tHandles;

class HandleLease {
 public:
  HandleLease() {
    if (!tHandles.busy) {
      tHandles.busy = true;
      shared_ = true;
      if (!tHandles.easy) tHandles.easy = curl_easy_init();
      easy_ = tHandles.easy;
      if (easy_) curl_easy_reset(easy_);
    } else {
      easy_ = curl_easy_init();
    }
  }
  ~HandleLease() {
    if (shared_) {
      tHandles.busy = false;
    } else {
      if (easy_) curl_easy_cleanup(easy_);
      if (multi_) curl_multi_cleanup(multi_);
    }
  }
  HandleLease(const HandleLease&) = delete;
  HandleLease& operator=(const HandleLease&) = delete;

  CURL* Easy() const { return easy_; }
  CURLM* Multi() {
    if (shared_) {
      if (!tHandles.multi) tHandles.multi = curl_multi_init();
      return tHandles.multi;
    }
    if (!multi_) multi_ = curl_multi_init();
    return multi_;
  }

 private:
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  bool shared_ = false;
};

bool IsTokenChar(char c) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(const QByteArray& word) {
  return !word.isEmpty() && std::all_of(word.begin(), word.end(), IsTokenChar);
}

// Characters curl does not take in an address are sent percent-escaped, as
// UTF-8: blanks, control characters and everything outside ASCII.
QByteArray EscapeAddress(const QString& address) {
  const QByteArray utf8 = address.toUtf8();
  QByteArray out;
  out.reserve(utf8.size());
  static const char kHex[] = "0123456789ABCDEF";
  for (char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out.append('%');
      out.append(kHex[c >> 4]);
      out.append(kHex[c & 0x0F]);
    } else {
      out.append(ch);
    }
  }
  return out;
}

bool HasHttpScheme(const QByteArray& url) {
  const QByteArray head = url.left(8).toLower();
  return head.startsWith("http://") || head.startsWith("https://");
}

bool StartsWithNoCase(QByteArrayView text, QByteArrayView prefix) {
  return text.size() >= prefix.size() &&
         text.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// ---- text decoding of result kind 1 ----

// The charset parameter of a Content-Type value, lower-cased, or empty.
QByteArray CharsetParameter(const QByteArray& value) {
  const QByteArray lower = value.toLower();
  qsizetype at = lower.indexOf("charset");
  while (at >= 0) {
    qsizetype i = at + 7;
    while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t')) ++i;
    if (i < lower.size() && lower[i] == '=') {
      ++i;
      while (i < lower.size() &&
             (lower[i] == ' ' || lower[i] == '\t' || lower[i] == '"' || lower[i] == '\''))
        ++i;
      qsizetype end = i;
      while (end < lower.size() && (IsTokenChar(lower[end]) || lower[end] == ':') &&
             lower[end] != '\'')
        ++end;
      return lower.mid(i, end - i);
    }
    at = lower.indexOf("charset", at + 7);
  }
  return {};
}

// A charset named by a <meta> tag near the start of the page: <meta
// charset="gbk"> or <meta http-equiv="Content-Type" content="text/html;
// charset=gb2312">.
QByteArray MetaCharset(const QByteArray& body) {
  // The tags are found in any letter case without lower-casing the whole
  // head of the page: only each "<meta" tag is.
  const QByteArrayView head(body.constData(), std::min(body.size(), kMetaScanBytes));
  for (qsizetype at = head.indexOf('<'); at >= 0; at = head.indexOf('<', at + 1)) {
    if (!StartsWithNoCase(head.sliced(at), "<meta")) continue;
    qsizetype end = head.indexOf('>', at);
    if (end < 0) end = head.size();
    const QByteArray charset = CharsetParameter(head.sliced(at, end - at).toByteArray());
    if (!charset.isEmpty()) {
      // A page that could be read this far is not UTF-16, whatever it says.
      return charset.startsWith("utf-16") ? QByteArray("utf-8") : charset;
    }
    at = end - 1;  // the next tag begins at or after the end of this one
  }
  return {};
}

// The decoder name for a charset label: every label of the simplified Chinese
// code pages goes to GB18030, their superset, so pages labelled GB2312 that
// use GBK characters still come out right.
QByteArray DecoderName(QByteArray label) {
  label = label.trimmed().toLower();
  static const char* const kChinese[] = {
      "gb2312",  "gbk",      "x-gbk",   "cp936",     "ms936",  "windows-936", "gb_2312-80",
      "gb_2312", "csgb2312", "chinese", "iso-ir-58", "euc-cn", "gb18030"};
  for (const char* name : kChinese)
    if (label == name) return "GB18030";
  return label;
}

std::optional<QString> IconvDecode(const QByteArray& bytes, const QByteArray& charset) {
  // A broken sequence becomes U+FFFD for its first byte.
  auto utf8 = IconvConvert(bytes, "UTF-8", charset.constData(), "\xEF\xBF\xBD");
  if (!utf8) return std::nullopt;
  return QString::fromUtf8(*utf8);
}

std::optional<QString> DecodeAs(const QByteArray& bytes, const QByteArray& label) {
  if (label.isEmpty()) return std::nullopt;
  const QByteArray name = DecoderName(label);
  QStringDecoder decoder(name.constData());
  if (decoder.isValid()) return decoder.decode(bytes);
  return IconvDecode(bytes, name);
}

QString DecodeBody(const QByteArray& body, const QByteArray& contentType) {
  if (auto text = DecodeAs(body, CharsetParameter(contentType))) return *text;
  if (body.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(body.mid(3));
  if (body.startsWith("\xFF\xFE")) return *DecodeAs(body, "utf-16le");
  if (body.startsWith("\xFE\xFF")) return *DecodeAs(body, "utf-16be");
  if (auto text = DecodeAs(body, MetaCharset(body))) return *text;
  return QString::fromUtf8(body);
}

}  // namespace

// ---- global set-up and time-outs ----

void HttpGlobalInit() {
  std::call_once(gInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  gConnectMs = timeouts.connect.count();
  gStallMs = timeouts.stall.count();
}

HttpTimeouts GetHttpTimeouts() {
  HttpTimeouts t;
  t.connect = std::chrono::milliseconds(gConnectMs.load());
  t.stall = std::chrono::milliseconds(gStallMs.load());
  return t;
}

// ---- BytesToText ----

bool BytesToText(const QByteArray& bytes, QString& text) {
  // Each byte below 0x80 is one character; a byte of 0x80 or more takes the
  // next byte with it and the pair is one character. A pair that is no GBK
  // code becomes "?". The cleaned bytes are then decoded in one go.
  const qsizetype n = bytes.size();
  QByteArray clean;
  clean.reserve(n);
  qsizetype characters = 0;
  for (qsizetype i = 0; i < n; ++i, ++characters) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      clean.append(static_cast<char>(lead));
      continue;
    }
    if (i + 1 >= n) return false;
    const auto trail = static_cast<unsigned char>(bytes[++i]);
    const bool gbk = lead >= 0x81 && lead <= 0xFE &&
                     ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFE));
    if (gbk) {
      clean.append(static_cast<char>(lead));
      clean.append(static_cast<char>(trail));
    } else {
      clean.append('?');
    }
  }
  QString decoded = FromGbk(clean);
  if (decoded.size() != characters) {
    // The converter split a pair somewhere: decode pair by pair instead.
    decoded.clear();
    decoded.reserve(characters);
    for (qsizetype i = 0; i < clean.size(); ++i) {
      const auto c = static_cast<unsigned char>(clean[i]);
      if (c < 0x80) {
        decoded.append(QChar(c));
        continue;
      }
      const QString pair = FromGbk(clean.mid(i++, 2));
      decoded.append(pair.size() == 1 ? pair[0] : QChar(u'?'));
    }
  }
  text = std::move(decoded);
  return true;
}

// ---- HttpComponent ----

struct HttpComponent::Impl {
  int certErrorsToIgnore = 0;
  QVariant clientCertificate;
  QByteArray proxy;
  bool useProxy = false;

  QByteArray method;
  QByteArray url;
  QString address;       // as opened
  QString finalAddress;  // see FinalAddress()
  std::vector<QByteArray> headerLines;
  int readyState = 0;
  int status = 0;
  QString argumentError;

  QByteArray headerBlock;
  QByteArray contentType;
  QByteArray body;
  QString errorMessage;
  int errorNumber = 0;

  // Transfer state, valid during send().
  CURL* easy = nullptr;
  Clock::time_point lastActivity;
  curl_off_t lastUploaded = 0;
  long long stallMs = 0;
  bool stalled = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  void Fail(int number, const QString& message) {
    errorNumber = number;
    errorMessage = message.isEmpty() ? QStringLiteral("Unknown error") : message;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* d = static_cast<Impl*>(user);
    const size_t length = size * count;
    d->lastActivity = Clock::now();
    QByteArrayView line(data, static_cast<qsizetype>(length));
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r')) line.chop(1);
    if (StartsWithNoCase(line, "HTTP/")) {
      // A new response (after a redirect or an interim 1xx): only the final
      // response's headers are kept.
      d->headerBlock.clear();
      d->contentType.clear();
      d->body.clear();
      return length;
    }
    if (line.isEmpty()) return length;
    d->headerBlock.append(line);
    d->headerBlock.append("\r\n");
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) {
      const QByteArrayView name = line.first(colon);
      const QByteArray value = line.sliced(colon + 1).toByteArray().trimmed();
      if (name.compare("Content-Type", Qt::CaseInsensitive) == 0) {
        d->contentType = value;
      } else if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
        bool ok = false;
        const qlonglong announced = value.toLongLong(&ok);
        if (ok && announced > 0) d->body.reserve(std::min<qsizetype>(announced, kMaxReserve));
      }
    }
    return length;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* d = static_cast<Impl*>(user);
    const size_t length = size * count;
    d->lastActivity = Clock::now();
    d->body.append(data, static_cast<qsizetype>(length));
    return length;
  }

  // A transfer that receives nothing for the stall time fails. The clock runs
  // only once the connection stands: connecting has a time-out of its own.
  static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* d = static_cast<Impl*>(user);
    const auto now = Clock::now();
    if (uploaded != d->lastUploaded) {
      d->lastUploaded = uploaded;
      d->lastActivity = now;
    }
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(d->easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    if (pretransfer == 0) {
      d->lastActivity = now;
      return 0;
    }
    if (now - d->lastActivity > std::chrono::milliseconds(d->stallMs)) {
      d->stalled = true;
      return 1;
    }
    return 0;
  }
};

HttpComponent::HttpComponent() : d(std::make_unique<Impl>()) {
  HttpGlobalInit();
  d->clientCertificate = QString::fromLatin1(kDefaultClientCertificate);
}

HttpComponent::~HttpComponent() = default;

void HttpComponent::setoption(int option, const QVariant& value) {
  if (option == kOptionServerCertErrors) {
    d->certErrorsToIgnore = value.toInt();
  } else if (option == kOptionClientCertificate) {
    // Kept as given; there is no certificate store here to find it in, so
    // no client certificate is presented.
    d->clientCertificate = value;
  }
}

void HttpComponent::SetProxy(int setting, const QString& proxy) {
  d->useProxy = setting == kProxyNamed && !proxy.isEmpty();
  d->proxy = d->useProxy ? proxy.toUtf8() : QByteArray();
}

void HttpComponent::open(const QString& method, const QString& address, bool /*async*/) {
  // Always synchronous: send() returns when the response is complete.
  d->method = method.toLatin1();
  d->url = EscapeAddress(address);
  d->address = address;
  d->finalAddress.clear();
  d->headerLines.clear();
  d->argumentError.clear();
  d->headerBlock.clear();
  d->contentType.clear();
  d->body.clear();
  d->errorMessage.clear();
  d->errorNumber = 0;
  d->readyState = kReadyOpened;
  d->status = 0;
  if (!IsToken(d->method)) d->argumentError = QStringLiteral("Invalid method word");
}

void HttpComponent::setRequestHeader(const QString& name, const QString& value) {
  const QByteArray n = name.toLatin1();
  const QByteArray v = value.toUtf8();
  // A header that would break the request apart is refused, and the request
  // with it.
  if (!IsToken(n) || v.contains('\r') || v.contains('\n') || v.contains('\0')) {
    if (d->argumentError.isEmpty())
      d->argumentError = QStringLiteral("Invalid request header \"%1\"").arg(name);
    return;
  }
  // curl drops a header written "Name:"; "Name;" sends it with an empty value.
  d->headerLines.push_back(v.isEmpty() ? n + ';' : n + ": " + v);
}

bool HttpComponent::send(const QVariant& body) {
  HttpGlobalInit();
  if (d->readyState != kReadyOpened) {
    d->Fail(kErrorNotOpen, QStringLiteral("The request is not open"));
    return false;
  }
  if (!d->argumentError.isEmpty()) {
    d->Fail(kErrorBadArgument, d->argumentError);
    return false;
  }
  if (!HasHttpScheme(d->url)) {
    d->Fail(CURLE_URL_MALFORMAT, QString::fromUtf8(curl_easy_strerror(CURLE_URL_MALFORMAT)));
    return false;
  }

  HandleLease lease;
  CURL* h = lease.Easy();
  if (!h) {
    d->Fail(CURLE_FAILED_INIT, QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT)));
    return false;
  }

  QByteArray payload;
  if (body.isValid() && !body.isNull()) {
    payload =
        body.typeId() == QMetaType::QByteArray ? body.toByteArray() : body.toString().toUtf8();
  }

  const bool https = StartsWithNoCase(d->url, "https:");
  const int ignore = d->certErrorsToIgnore;
  const long verifyPeer =
      (ignore & (kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreExpired)) ? 0 : 1;
  const long verifyHost = (ignore & kIgnoreNameMismatch) ? 0 : 2;
  static_assert((kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreNameMismatch | kIgnoreExpired) ==
                kIgnoreAllCertErrors);

  curl_slist* headers = nullptr;
  // No "Expect: 100-continue" round trip before a body.
  headers = curl_slist_append(headers, "Expect:");
  for (const QByteArray& line : d->headerLines)
    headers = curl_slist_append(headers, line.constData());

  d->errorBuffer[0] = '\0';
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, d->errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, d->url.constData());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed, but never from https down to http.
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, https ? "https" : "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  // HTTP/1.1 only: header names arrive spelled as the server wrote them.
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verifyPeer);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verifyHost);
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYPEER, verifyPeer);
  curl_easy_setopt(h, CURLOPT_PROXY_SSL_VERIFYHOST, verifyHost);
  // An empty proxy also keeps proxies named in the environment out.
  curl_easy_setopt(h, CURLOPT_PROXY, d->useProxy ? d->proxy.constData() : "");
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(gConnectMs.load()));
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, d.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, d.get());
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, d.get());

  if (d->method == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else if (d->method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else {
    if (d->method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, d->method.constData());
    if (d->method == "POST" || !payload.isEmpty()) {
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.constData());
    }
  }

  d->headerBlock.clear();
  d->contentType.clear();
  d->body.clear();
  d->easy = h;
  d->stallMs = gStallMs.load();
  d->stalled = false;
  d->lastUploaded = 0;
  d->lastActivity = Clock::now();

  CURLcode result = CURLE_OK;
  QString multiError;
  if (HasYieldHook()) {
    // The window's thread: run the transfer in short polls and let the
    // window's events run between them.
    CURLM* multi = lease.Multi();
    if (!multi || curl_multi_add_handle(multi, h) != CURLM_OK) {
      multiError = QStringLiteral("Cannot start the transfer");
    } else {
      bool done = false;
      auto lastYield = Clock::now();
      while (!done) {
        int running = 0;
        const CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK) {
          multiError = QString::fromUtf8(curl_multi_strerror(mc));
          break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
          if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) {
            result = msg->data.result;
            done = true;
          }
        }
        if (done) break;
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
        const auto now = Clock::now();
        if (now - lastYield >= kYieldInterval) {
          lastYield = now;
          YieldNow();
        }
      }
      curl_multi_remove_handle(multi, h);
    }
  } else {
    result = curl_easy_perform(h);
  }
  d->easy = nullptr;
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(headers);

  if (!multiError.isEmpty()) {
    d->Fail(kErrorMulti, multiError);
    return false;
  }
  if (d->stalled) {
    d->Fail(CURLE_OPERATION_TIMEDOUT,
            QStringLiteral("Operation timed out: nothing received for %1 ms").arg(d->stallMs));
    return false;
  }
  if (result != CURLE_OK) {
    const QString detail = QString::fromUtf8(d->errorBuffer);
    d->Fail(result, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail);
    return false;
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  d->status = static_cast<int>(status);
  long redirects = 0;
  curl_easy_getinfo(h, CURLINFO_REDIRECT_COUNT, &redirects);
  const char* effective = nullptr;
  curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective);
  d->finalAddress = redirects > 0 && effective ? QString::fromUtf8(effective) : d->address;
  d->readyState = kReadyComplete;
  return true;
}

int HttpComponent::ReadyState() const { return d->readyState; }

int HttpComponent::Status() const { return d->status; }

QString HttpComponent::FinalAddress() const { return d->finalAddress; }

QString HttpComponent::getAllResponseHeaders() const { return QString::fromLatin1(d->headerBlock); }

QString HttpComponent::Responsetext() const {
  if (d->readyState != kReadyComplete) return {};
  return DecodeBody(d->body, d->contentType);
}

QByteArray HttpComponent::responseBody() const {
  if (d->readyState != kReadyComplete) return {};
  return d->body;
}

QString HttpComponent::errorMessage() const { return d->errorMessage; }

int HttpComponent::errorNumber() const { return d->errorNumber; }

// ---- HttpRequest ----

QVariant HttpRequest(const QString& address, int kind, const QString& requestHeaders,
                     const QVariant& body, const QString& method, QString& responseHeaders,
                     const QString& proxy, int* status, QString* finalAddress) {
  HttpGlobalInit();
  const QString url = address;
  QVariant result;
  QString errorMessage;
  int errorNumber = 0;
  {
    HttpComponent http;
    // Certificate errors are ignored for every address: a crawl must not stop
    // at a bad certificate.
    http.setoption(kOptionServerCertErrors, kIgnoreAllCertErrors);
    http.setoption(kOptionClientCertificate, QString::fromLatin1(kDefaultClientCertificate));
    if (proxy.contains(u':')) http.SetProxy(kProxyNamed, proxy);

    const QString upper = method.toUpper();
    const bool get = method.isEmpty() || upper == u"GET";
    http.open(get ? QStringLiteral("GET") : QStringLiteral("POST"), url, false);

    if (requestHeaders.isEmpty()) {
      http.setRequestHeader(QStringLiteral("CONTENT-TYPE"),
                            QStringLiteral("application/x-www-form-urlencoded"));
    } else {
      for (const QString& line : requestHeaders.split(QStringLiteral("\r\n"))) {
        if (!line.contains(QStringLiteral(": "))) continue;
        const QStringList pieces = line.split(QStringLiteral(": "));
        http.setRequestHeader(pieces[0], pieces[1]);
      }
    }

    bool sent;
    if (get) {
      sent = http.send();
    } else if (upper == u"POST") {
      sent = http.send(body);
    } else {
      // Any other method word: the request still goes out (as a POST without
      // a body) instead of waiting for ever for an answer never asked for.
      sent = http.send();
    }

    if (!sent || http.ReadyState() != kReadyComplete) {
      errorMessage = http.errorMessage();
      errorNumber = http.errorNumber();
    } else {
      switch (kind) {
        case kHttpText:
          result = http.Responsetext();
          break;
        case kHttpBytes:
          result = http.responseBody();
          break;
        case kHttpGbkText: {
          QString text;
          if (BytesToText(http.responseBody(), text)) {
            result = text;
          } else {
            errorMessage = QStringLiteral("The body ends inside a double-byte character");
            errorNumber = kErrorTruncatedDoubleByte;
          }
          break;
        }
        default:
          break;
      }
      // A failure leaves what the caller passed as it was, even after an answer.
      if (errorMessage.isEmpty()) {
        responseHeaders = http.getAllResponseHeaders();
        if (status) *status = http.Status();
        if (finalAddress) *finalAddress = http.FinalAddress();
      }
    }
  }
  if (!errorMessage.isEmpty())
    result = QString(QStringLiteral("Error:") + errorMessage + QStringLiteral("|errNum:") +
                     QString::number(errorNumber));
  return result;
}

}  // namespace qm
