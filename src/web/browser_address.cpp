#include "web/browser_address.h"

#include <QList>
#include <array>
#include <cstdint>
#include <string>
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

struct Parts {
  QString scheme;
  QString authority;
  QString path;
  QString query;
};

// "@" user information as written, the host lower-cased, a port as a number
// unless it is the scheme's default. False for an empty or malformed host or
// a port that is no number up to 65535.
bool ReadAuthority(QStringView a, const QString& scheme, QString& out) {
  const qsizetype at = a.lastIndexOf(u'@');
  const QStringView user = at >= 0 ? a.first(at + 1) : QStringView();
  QStringView host = a.mid(at + 1);
  QStringView port;
  const qsizetype colon = host.lastIndexOf(u':');
  if (colon > host.lastIndexOf(u']')) {
    port = host.mid(colon + 1);
    host = host.first(colon);
  }
  if (host.isEmpty()) return false;
  const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
  for (qsizetype i = 0; i < host.size(); ++i) {
    const char16_t c = host[i].unicode();
    if (ForbiddenInHost(c)) return false;
    if ((c == u'[' || c == u']') && !bracketed) return false;
    if (c == u':' && !bracketed) return false;
  }
  std::uint32_t number = 0;
  for (QChar c : port) {
    if (!IsDigit(c.unicode())) return false;
    number = number * 10 + (c.unicode() - u'0');
    if (number > 65535) return false;
  }
  out = user.toString();
  out += host.toString().toLower();
  const std::uint32_t standard = scheme == QLatin1String("https") ? 443 : 80;
  if (!port.isEmpty() && number != standard) {
    out += u':';
    out += QString::number(number);
  }
  return true;
}

bool IsDotSegment(QStringView s) {
  return s == u"." || s.compare(u"%2e", Qt::CaseInsensitive) == 0;
}

bool IsDoubleDotSegment(QStringView s) {
  return s == u".." || s.compare(u".%2e", Qt::CaseInsensitive) == 0 ||
         s.compare(u"%2e.", Qt::CaseInsensitive) == 0 ||
         s.compare(u"%2e%2e", Qt::CaseInsensitive) == 0;
}

// `path` (beginning with "/", backslashes already slashes) without its dot
// segments; a final "." or ".." leaves the path ending in "/".
QString RemoveDotSegments(QStringView path) {
  std::vector<QStringView> kept;
  const QList<QStringView> segments = path.mid(1).split(u'/');
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
  QString out;
  out.reserve(path.size());
  for (QStringView s : kept) {
    out += u'/';
    out += s;
  }
  return out.isEmpty() ? QStringLiteral("/") : out;
}

// The path and query of `rest` (path first, then "?query", then "#fragment",
// which is dropped) onto `parts`; a relative path is merged with `basePath`.
void ReadPathAndQuery(QStringView rest, const QString* basePath, Parts& parts) {
  qsizetype end = 0;
  while (end < rest.size() && rest[end] != u'?' && rest[end] != u'#') ++end;
  QString path = rest.first(end).toString();
  path.replace(u'\\', u'/');
  if (basePath && !path.startsWith(u'/'))
    path.prepend(basePath->left(basePath->lastIndexOf(u'/') + 1));
  if (!path.startsWith(u'/')) path.prepend(u'/');
  parts.path = RemoveDotSegments(path);
  parts.query.clear();
  if (end < rest.size() && rest[end] == u'?') {
    const qsizetype hash = rest.indexOf(u'#', end);
    parts.query = rest.mid(end, hash < 0 ? -1 : hash - end).toString();
  }
}

// An address after "scheme:" and its slashes: authority, then path and query.
bool ReadFromAuthority(QStringView rest, Parts& parts) {
  qsizetype end = 0;
  while (end < rest.size() && !IsSlash(rest[end]) && rest[end] != u'?' && rest[end] != u'#') ++end;
  if (!ReadAuthority(rest.first(end), parts.scheme, parts.authority)) return false;
  ReadPathAndQuery(rest.mid(end), nullptr, parts);
  return true;
}

QStringView SkipSlashes(QStringView text) {
  qsizetype i = 0;
  while (i < text.size() && IsSlash(text[i])) ++i;
  return text.mid(i);
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

// A double quote (the separator of image lists) and control characters are
// percent-encoded; everything else stays as written.
void EncodeSeparators(QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c >= 0x20 && c != 0x7F && c != u'"') continue;
    static const char kHex[] = "0123456789ABCDEF";
    const QString escape =
        QStringLiteral("%") + QLatin1Char(kHex[c >> 4]) + QLatin1Char(kHex[c & 15]);
    text.replace(i, 1, escape);
    i += 2;
  }
}

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
  scheme_ = resolved.first(colon);
  authority_ = resolved.mid(colon + 3, pathAt - colon - 3);
  path_ = resolved.mid(pathAt, queryAt < 0 ? -1 : queryAt - pathAt);
  query_ = queryAt < 0 ? QString() : resolved.mid(queryAt);
}

QString AddressBase::Address() const {
  return Valid() ? scheme_ + QStringLiteral("://") + authority_ + path_ + query_ : QString();
}

bool AddressBase::Resolve(QStringView reference, QString& out) const {
  QString buffer;
  QStringView v = Cleaned(reference, buffer);
  Parts parts;
  // A scheme: letters first, then letters, digits, "+", "-" or ".", then ":".
  qsizetype i = 0;
  if (!v.isEmpty() && IsAsciiAlpha(v[0].unicode()))
    while (i < v.size() && IsSchemeCharacter(v[i].unicode())) ++i;
  if (i > 0 && i < v.size() && v[i] == u':') {
    parts.scheme = v.first(i).toString().toLower();
    if (parts.scheme != QLatin1String("http") && parts.scheme != QLatin1String("https"))
      return false;
    const QStringView rest = v.mid(i + 1);
    // "http:p" on an http page is relative to it; any other keeps its host.
    const bool relative = Valid() && parts.scheme == scheme_ && !(rest.size() && IsSlash(rest[0]));
    if (!relative) {
      if (!ReadFromAuthority(SkipSlashes(rest), parts)) return false;
      v = QStringView();
    } else {
      v = rest;
    }
  } else if (!Valid()) {
    return false;
  }
  if (parts.authority.isEmpty()) {
    parts.scheme = scheme_;
    if (v.size() >= 2 && IsSlash(v[0]) && IsSlash(v[1])) {
      if (!ReadFromAuthority(SkipSlashes(v), parts)) return false;
    } else {
      parts.authority = authority_;
      if (v.isEmpty() || v[0] == u'#') {
        parts.path = path_;
        parts.query = query_;
      } else if (v[0] == u'?') {
        parts.path = path_;
        const qsizetype hash = v.indexOf(u'#');
        parts.query = v.first(hash < 0 ? v.size() : hash).toString();
      } else {
        ReadPathAndQuery(v, IsSlash(v[0]) ? nullptr : &path_, parts);
      }
    }
  }
  EncodeSeparators(parts.path);
  EncodeSeparators(parts.query);
  out = parts.scheme + QStringLiteral("://") + parts.authority + parts.path + parts.query;
  return true;
}

}  // namespace qm
