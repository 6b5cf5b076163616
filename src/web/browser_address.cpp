#include "web/browser_address.h"

#include <QList>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qm {

namespace {

// ---- character references

bool IsAsciiAlpha(char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHexDigit(char16_t c) { return IsDigit(c) || ((c | 0x20) >= u'a' && (c | 0x20) <= u'f'); }
bool IsAsciiAlnum(char16_t c) { return IsAsciiAlpha(c) || IsDigit(c); }

struct NamedReference {
  const char16_t* name;
  char16_t value;
  bool legacy;  // also decoded without its ";"
};

// The named references a web address may hold: the markup characters and the
// punctuation of addresses.
constexpr std::array<NamedReference, 44> kNamed{{
    {u"amp", u'&', true},     {u"AMP", u'&', true},       {u"lt", u'<', true},
    {u"LT", u'<', true},      {u"gt", u'>', true},        {u"GT", u'>', true},
    {u"quot", u'"', true},    {u"QUOT", u'"', true},      {u"nbsp", u'\u00A0', true},
    {u"apos", u'\'', false},  {u"sol", u'/', false},      {u"bsol", u'\\', false},
    {u"colon", u':', false},  {u"semi", u';', false},     {u"quest", u'?', false},
    {u"equals", u'=', false}, {u"num", u'#', false},      {u"percnt", u'%', false},
    {u"period", u'.', false}, {u"comma", u',', false},    {u"plus", u'+', false},
    {u"lowbar", u'_', false}, {u"UnderBar", u'_', false}, {u"excl", u'!', false},
    {u"lpar", u'(', false},   {u"rpar", u')', false},     {u"ast", u'*', false},
    {u"midast", u'*', false}, {u"commat", u'@', false},   {u"dollar", u'$', false},
    {u"lsqb", u'[', false},   {u"rsqb", u']', false},     {u"lbrack", u'[', false},
    {u"rbrack", u']', false}, {u"lcub", u'{', false},     {u"rcub", u'}', false},
    {u"lbrace", u'{', false}, {u"rbrace", u'}', false},   {u"verbar", u'|', false},
    {u"vert", u'|', false},   {u"Hat", u'^', false},      {u"grave", u'`', false},
    {u"Tab", u'\t', false},   {u"NewLine", u'\n', false},
}};

// Code points 0x80 to 0x9F in a numeric reference name the letters of the
// Windows Latin page there, as in browsers.
constexpr std::array<char16_t, 32> kC1{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool NameEquals(QStringView text, const char16_t* name) {
  qsizetype i = 0;
  for (; name[i] != 0; ++i)
    if (i >= text.size() || text[i] != QChar(name[i])) return false;
  return i == text.size();
}

// A numeric reference "&#..." at `at`: its character(s) into `out`, the
// characters it spans into `used`. False when no digit follows.
bool DecodeNumeric(QStringView v, qsizetype at, QString& out, qsizetype& used) {
  qsizetype i = at + 2;
  const bool hex = i < v.size() && (v[i] == u'x' || v[i] == u'X');
  if (hex) ++i;
  const qsizetype digits = i;
  std::uint32_t code = 0;
  for (; i < v.size() && (hex ? IsHexDigit(v[i].unicode()) : IsDigit(v[i].unicode())); ++i) {
    const char16_t c = v[i].unicode();
    const std::uint32_t digit = IsDigit(c) ? c - u'0' : (c | 0x20) - u'a' + 10;
    code = code > 0x10FFFF ? code : code * (hex ? 16 : 10) + digit;
  }
  if (i == digits) return false;
  if (i < v.size() && v[i] == u';') ++i;
  used = i - at;
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code >= 0x80 && code <= 0x9F) code = kC1[code - 0x80];
  const char32_t c32 = code;
  out += QString::fromUcs4(&c32, 1);
  return true;
}

// A named reference at `at`: with its ";", any of kNamed; without, only the
// legacy ones, and not before a letter, a digit or "=".
bool DecodeNamed(QStringView v, qsizetype at, QString& out, qsizetype& used) {
  qsizetype end = at + 1;
  while (end < v.size() && end - at <= 8 && IsAsciiAlnum(v[end].unicode())) ++end;
  const QStringView run = v.mid(at + 1, end - at - 1);
  if (end < v.size() && v[end] == u';') {
    for (const NamedReference& ref : kNamed) {
      if (NameEquals(run, ref.name)) {
        out += QChar(ref.value);
        used = end + 1 - at;
        return true;
      }
    }
  }
  for (const NamedReference& ref : kNamed) {
    if (!ref.legacy) continue;
    const qsizetype length = static_cast<qsizetype>(std::char_traits<char16_t>::length(ref.name));
    if (length > run.size() || !NameEquals(run.first(length), ref.name)) continue;
    const qsizetype after = at + 1 + length;
    if (after < v.size() && (IsAsciiAlnum(v[after].unicode()) || v[after] == u'=')) return false;
    out += QChar(ref.value);
    used = length + 1;
    return true;
  }
  return false;
}

// ---- addresses

bool IsSlash(QChar c) { return c == u'/' || c == u'\\'; }
bool IsSchemeCharacter(char16_t c) {
  return IsAsciiAlnum(c) || c == u'+' || c == u'-' || c == u'.';
}

// A host must not hold these (brackets only around an IPv6 address).
bool ForbiddenInHost(char16_t c) {
  return c <= 0x20 || c == 0x7F || c == u'#' || c == u'/' || c == u'<' || c == u'>' || c == u'?' ||
         c == u'@' || c == u'\\' || c == u'^' || c == u'|' || c == u'"' || c == u'%' || c == u'{' ||
         c == u'}' || c == u'`';
}

// Whether `text` is `lower` (lower-case ASCII) in any letter case.
bool EqualsNoCase(QStringView text, QLatin1StringView lower) {
  if (text.size() != lower.size()) return false;
  for (qsizetype i = 0; i < text.size(); ++i)
    if ((text[i].unicode() | 0x20) != static_cast<char16_t>(lower[i].unicode())) return false;
  return true;
}

// A double quote (the separator of image lists) and control characters in
// out[from...] are percent-encoded; everything else stays as written.
void EncodeSeparators(QString& out, qsizetype from) {
  auto separator = [](char16_t c) { return c < 0x20 || c == 0x7F || c == u'"'; };
  const char16_t* p = reinterpret_cast<const char16_t*>(std::as_const(out).utf16());
  qsizetype i = from;
  while (i < out.size() && !separator(p[i])) ++i;
  if (i == out.size()) return;
  static const char kHex[] = "0123456789ABCDEF";
  const QString tail = out.mid(i);
  out.truncate(i);
  for (QChar c : tail) {
    if (!separator(c.unicode())) {
      out += c;
      continue;
    }
    out += u'%';
    out += QLatin1Char(kHex[c.unicode() >> 4]);
    out += QLatin1Char(kHex[c.unicode() & 15]);
  }
}

// Appends user information as written, the host lower-cased and a port
// unless it is the scheme's default. False for an empty or malformed host
// or a port that is no number up to 65535.
bool AppendAuthority(QString& out, QStringView a, bool https) {
  const qsizetype at = a.lastIndexOf(u'@');
  QStringView host = a.mid(at + 1);
  QStringView port;
  const qsizetype colon = host.lastIndexOf(u':');
  if (colon > host.lastIndexOf(u']')) {
    port = host.mid(colon + 1);
    host = host.first(colon);
  }
  if (host.isEmpty()) return false;
  const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
  bool ascii = true;
  for (QChar ch : host) {
    const char16_t c = ch.unicode();
    if (ForbiddenInHost(c) || ((c == u'[' || c == u']' || c == u':') && !bracketed)) return false;
    ascii = ascii && c < 0x80;
  }
  std::uint32_t number = 0;
  for (QChar c : port) {
    if (!IsDigit(c.unicode())) return false;
    number = number * 10 + (c.unicode() - u'0');
    if (number > 65535) return false;
  }
  if (at >= 0) {
    const qsizetype userStart = out.size();
    out += a.first(at + 1);
    EncodeSeparators(out, userStart);
  }
  if (ascii) {
    for (QChar c : host)
      out += QChar(c.unicode() >= u'A' && c.unicode() <= u'Z' ? c.unicode() | 0x20 : c.unicode());
  } else {
    out += host.toString().toLower();
  }
  if (!port.isEmpty() && number != (https ? 443u : 80u)) {
    out += u':';
    out += QString::number(number);
  }
  return true;
}

bool IsDotSegment(QStringView s) {
  return s == QLatin1StringView(".") || EqualsNoCase(s, QLatin1StringView("%2e"));
}

bool IsDoubleDotSegment(QStringView s) {
  return s == QLatin1StringView("..") || EqualsNoCase(s, QLatin1StringView(".%2e")) ||
         EqualsNoCase(s, QLatin1StringView("%2e.")) || EqualsNoCase(s, QLatin1StringView("%2e%2e"));
}

// Whether a segment of `path` begins with "." or "%", as every dot segment does.
bool MayHoldDotSegments(QStringView path) {
  for (qsizetype i = 0; i + 1 < path.size(); ++i)
    if (path[i] == u'/' && (path[i + 1] == u'.' || path[i + 1] == u'%')) return true;
  return false;
}

// The path at out[from...] (beginning with "/") without its dot segments; a
// final "." or ".." leaves it ending in "/".
void RemoveDotSegments(QString& out, qsizetype from) {
  const QString path = out.mid(from);
  std::vector<QStringView> kept;
  const QList<QStringView> segments = QStringView(path).mid(1).split(u'/');
  for (qsizetype i = 0; i < segments.size(); ++i) {
    const QStringView s = segments[i];
    const bool last = i + 1 == segments.size();
    if (IsDoubleDotSegment(s)) {
      if (!kept.empty()) kept.pop_back();
      if (last) kept.emplace_back();
    } else if (IsDotSegment(s)) {
      if (last) kept.emplace_back();
    } else {
      kept.push_back(s);
    }
  }
  out.truncate(from);
  for (QStringView s : kept) {
    out += u'/';
    out += s;
  }
  if (kept.empty()) out += u'/';
}

// Appends the query of `rest` at `at` ("?..." up to a "#"), if any.
void AppendQuery(QString& out, QStringView rest, qsizetype at) {
  if (at >= rest.size() || rest[at] != u'?') return;
  const qsizetype hash = rest.indexOf(u'#', at);
  out += rest.mid(at, hash < 0 ? -1 : hash - at);
}

// Appends path and query of `rest` (then "#fragment", dropped); a path not
// beginning with a slash is merged with `basePath` when there is one.
void AppendPathAndQuery(QString& out, QStringView rest, const QString* basePath) {
  qsizetype end = 0;
  while (end < rest.size() && rest[end] != u'?' && rest[end] != u'#') ++end;
  const qsizetype pathStart = out.size();
  const bool rooted = end > 0 && IsSlash(rest[0]);
  if (!rooted && basePath) {
    out += QStringView(*basePath).first(basePath->lastIndexOf(u'/') + 1);
  } else if (!rooted) {
    out += u'/';
  }
  const qsizetype copied = out.size();
  out += rest.first(end);
  char16_t* p = reinterpret_cast<char16_t*>(out.data());
  for (qsizetype i = copied; i < out.size(); ++i)
    if (p[i] == u'\\') p[i] = u'/';
  if (MayHoldDotSegments(QStringView(out).mid(pathStart))) RemoveDotSegments(out, pathStart);
  AppendQuery(out, rest, end);
  EncodeSeparators(out, pathStart);
}

// Appends an address given after "scheme:" and its slashes: authority, then
// path and query.
bool AppendFromAuthority(QString& out, QStringView rest, bool https) {
  qsizetype i = 0;
  while (i < rest.size() && IsSlash(rest[i])) ++i;
  rest = rest.mid(i);
  qsizetype end = 0;
  while (end < rest.size() && !IsSlash(rest[end]) && rest[end] != u'?' && rest[end] != u'#') ++end;
  if (!AppendAuthority(out, rest.first(end), https)) return false;
  AppendPathAndQuery(out, rest.mid(end), nullptr);
  return true;
}

// The reference without blanks and control characters at its ends and
// without tabs and line breaks; `buffer` holds it when characters had to go.
QStringView Cleaned(QStringView reference, QString& buffer) {
  qsizetype b = 0;
  qsizetype e = reference.size();
  while (b < e && reference[b].unicode() <= 0x20) ++b;
  while (e > b && reference[e - 1].unicode() <= 0x20) --e;
  QStringView v = reference.mid(b, e - b);
  bool breaks = false;
  for (QChar c : v) breaks = breaks || c == u'\t' || c == u'\n' || c == u'\r';
  if (!breaks) return v;
  buffer.reserve(v.size());
  for (QChar c : v)
    if (c != u'\t' && c != u'\n' && c != u'\r') buffer += c;
  return buffer;
}

const QString kHttpPrefix = QStringLiteral("http://");
const QString kHttpsPrefix = QStringLiteral("https://");

}  // namespace

QString DecodeCharacterReferences(QStringView value) {
  qsizetype amp = value.indexOf(u'&');
  if (amp < 0) return value.toString();
  QString out;
  out.reserve(value.size());
  qsizetype from = 0;
  for (; amp >= 0; amp = value.indexOf(u'&', from)) {
    out += value.mid(from, amp - from);
    qsizetype used = 0;
    const bool numeric = amp + 1 < value.size() && value[amp + 1] == u'#';
    if (numeric ? DecodeNumeric(value, amp, out, used) : DecodeNamed(value, amp, out, used)) {
      from = amp + used;
    } else {
      out += u'&';
      from = amp + 1;
    }
  }
  out += value.mid(from);
  return out;
}

AddressBase::AddressBase(QStringView address) {
  QString resolved;
  if (!AddressBase().Resolve(address, resolved)) return;
  // A resolved address is scheme "://" authority path query.
  const qsizetype colon = resolved.indexOf(u':');
  const qsizetype pathAt = resolved.indexOf(u'/', colon + 3);
  const qsizetype queryAt = resolved.indexOf(u'?', pathAt);
  https_ = colon == 5;
  authority_ = resolved.mid(colon + 3, pathAt - colon - 3);
  path_ = resolved.mid(pathAt, queryAt < 0 ? -1 : queryAt - pathAt);
  query_ = queryAt < 0 ? QString() : resolved.mid(queryAt);
}

QString AddressBase::Address() const {
  return Valid() ? (https_ ? kHttpsPrefix : kHttpPrefix) + authority_ + path_ + query_ : QString();
}

bool AddressBase::Resolve(QStringView reference, QString& out) const {
  QString buffer;
  QStringView v = Cleaned(reference, buffer);
  QString built;
  built.reserve(authority_.size() + path_.size() + v.size() + 8);
  // A scheme: a letter, then letters, digits, "+", "-" or ".", then ":".
  qsizetype i = 0;
  if (!v.isEmpty() && IsAsciiAlpha(v[0].unicode()))
    while (i < v.size() && IsSchemeCharacter(v[i].unicode())) ++i;
  if (i > 0 && i < v.size() && v[i] == u':') {
    const bool https = EqualsNoCase(v.first(i), QLatin1StringView("https"));
    if (!https && !EqualsNoCase(v.first(i), QLatin1StringView("http"))) return false;
    const QStringView rest = v.mid(i + 1);
    // "http:p" on an http page is relative to it; any other names its host.
    if (!Valid() || https != https_ || (!rest.isEmpty() && IsSlash(rest[0]))) {
      built += https ? kHttpsPrefix : kHttpPrefix;
      if (!AppendFromAuthority(built, rest, https)) return false;
      out = std::move(built);
      return true;
    }
    v = rest;
  } else if (!Valid()) {
    return false;
  }
  built += https_ ? kHttpsPrefix : kHttpPrefix;
  if (v.size() >= 2 && IsSlash(v[0]) && IsSlash(v[1])) {
    if (!AppendFromAuthority(built, v, https_)) return false;
  } else {
    built += authority_;
    if (v.isEmpty() || v[0] == u'#') {
      built += path_;
      built += query_;
    } else if (v[0] == u'?') {
      built += path_;
      const qsizetype queryStart = built.size();
      AppendQuery(built, v, 0);
      EncodeSeparators(built, queryStart);
    } else {
      AppendPathAndQuery(built, v, IsSlash(v[0]) ? nullptr : &path_);
    }
  }
  out = std::move(built);
  return true;
}

}  // namespace qm
