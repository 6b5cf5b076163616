#include "crawl/page_browser.h"

#include "crawl/page_scan.h"

namespace qm::pagetext {

namespace {

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}
bool IsAsciiAlpha(char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; }

// Whether `text` ends with the lower-case ASCII `tail`, in any letter case.
bool EndsWithNoCase(QStringView text, QLatin1StringView tail) {
  if (text.size() < tail.size()) return false;
  const char16_t* p = text.utf16() + text.size() - tail.size();
  for (qsizetype i = 0; i < tail.size(); ++i)
    if ((p[i] | 0x20) != static_cast<char16_t>(tail[i].unicode())) return false;
  return true;
}

bool EqualsNoCase(QStringView text, QLatin1StringView lower) {
  return text.size() == lower.size() && EndsWithNoCase(text, lower);
}

// How the content of an element is read.
enum class Content { kMarkup, kScript, kSkipped, kPlainText };

Content ContentOf(QStringView tag) {
  if (tag.size() < 3 || tag.size() > 9) return Content::kMarkup;
  if (EqualsNoCase(tag, QLatin1StringView("script"))) return Content::kScript;
  if (EqualsNoCase(tag, QLatin1StringView("plaintext"))) return Content::kPlainText;
  for (const char* raw : {"style", "title", "textarea", "xmp", "iframe", "noembed", "noframes"})
    if (EqualsNoCase(tag, QLatin1StringView(raw))) return Content::kSkipped;
  return Content::kMarkup;
}

// The kind of an attribute by its name; false for a name that names no address.
bool KindOf(QStringView name, ValueKind& kind) {
  if (EndsWithNoCase(name, QLatin1StringView("srcset"))) {
    kind = ValueKind::kImageSet;
  } else if (EndsWithNoCase(name, QLatin1StringView("src"))) {
    kind = ValueKind::kImage;
  } else if (EndsWithNoCase(name, QLatin1StringView("href"))) {
    kind = ValueKind::kLink;
  } else {
    return false;
  }
  return true;
}

class TagScanner {
 public:
  explicit TagScanner(QStringView page) : p_(page.utf16()), n_(page.size()), page_(page) {}

  std::vector<FoundValue> Run() {
    qsizetype i = 0;
    while (i < n_) {
      const qsizetype lt = Find(u'<', i);
      if (lt < 0 || lt + 1 >= n_) break;
      const char16_t c = p_[lt + 1];
      if (c == u'!') {
        i = Equal(lt, QLatin1StringView("<!--")) ? CommentEnd(lt + 4) : After(u'>', lt + 2);
      } else if (c == u'/' || c == u'?') {
        i = After(u'>', lt + 2);
      } else if (IsAsciiAlpha(c)) {
        i = StartTag(lt + 1);
      } else {
        i = lt + 1;
      }
    }
    return std::move(found_);
  }

 private:
  bool Equal(qsizetype at, QLatin1StringView text) const {
    return at + text.size() <= n_ && page_.mid(at, text.size()) == text;
  }

  // The position of the next `c` from `from`, or -1.
  qsizetype Find(char16_t c, qsizetype from) const {
    if (from >= n_) return -1;
    const qsizetype at = from + FirstOfTwo(p_ + from, n_ - from, c, c);
    return at < n_ ? at : -1;
  }

  // The position after the next `c` from `from`, or the end of the page.
  qsizetype After(char16_t c, qsizetype from) const {
    const qsizetype at = Find(c, from);
    return at < 0 ? n_ : at + 1;
  }

  // The end of a comment whose text begins at `from` ("<!-->" and "<!--->"
  // end at once); a comment never closed runs to the end of the page.
  qsizetype CommentEnd(qsizetype from) const {
    if (Equal(from, QLatin1StringView(">"))) return from + 1;
    if (Equal(from, QLatin1StringView("->"))) return from + 2;
    const qsizetype end = page_.indexOf(u"-->", from);
    return end < 0 ? n_ : end + 3;
  }

  // A start tag whose name begins at `at`: its attributes, then the content
  // its name asks for. Returns where reading goes on.
  qsizetype StartTag(qsizetype at) {
    qsizetype i = at;
    while (i < n_ && !IsSpace(p_[i]) && p_[i] != u'/' && p_[i] != u'>') ++i;
    const QStringView name = page_.mid(at, i - at);
    const bool base = EqualsNoCase(name, QLatin1StringView("base"));
    const std::size_t before = found_.size();
    i = Attributes(i, base);
    if (i < 0) {
      // The page ends inside the tag: a browser drops it.
      found_.resize(before);
      return n_;
    }
    switch (ContentOf(name)) {
      case Content::kMarkup:
        return i;
      case Content::kPlainText:
        return n_;
      case Content::kScript: {
        const qsizetype end = EndTag(i, name);
        ScriptValues(i, end);
        return end;
      }
      case Content::kSkipped:
        return EndTag(i, name);
    }
    return i;
  }

  // The attributes of a tag from `i` up to and including its ">"; the
  // position after it, or -1 when the page ends first.
  qsizetype Attributes(qsizetype i, bool base) {
    for (;;) {
      while (i < n_ && (IsSpace(p_[i]) || p_[i] == u'/')) ++i;
      if (i >= n_) return -1;
      if (p_[i] == u'>') return i + 1;
      const qsizetype nameStart = i++;  // a first "=" belongs to the name
      while (i < n_ && !IsSpace(p_[i]) && p_[i] != u'/' && p_[i] != u'>' && p_[i] != u'=') ++i;
      const QStringView name = page_.mid(nameStart, i - nameStart);
      qsizetype j = i;
      while (j < n_ && IsSpace(p_[j])) ++j;
      if (j >= n_ || p_[j] != u'=') {
        i = j;
        continue;
      }
      const qsizetype equals = j++;
      while (j < n_ && IsSpace(p_[j])) ++j;
      if (j >= n_) return -1;
      qsizetype start = j;
      qsizetype end;
      if (p_[j] == u'"' || p_[j] == u'\'') {
        const qsizetype close = Find(p_[j], j + 1);
        if (close < 0) return -1;
        start = j + 1;
        end = close;
        i = close + 1;
      } else {
        end = j;
        while (end < n_ && !IsSpace(p_[end]) && p_[end] != u'>') ++end;
        i = end;
      }
      Value(name, equals, start, end, base);
    }
  }

  void Value(QStringView name, qsizetype equals, qsizetype start, qsizetype end, bool base) {
    ValueKind kind;
    if (name == QLatin1StringView("content")) {
      // A meta tag whose content is an address, written content="http...,
      // names an image.
      if (start != equals + 2 || p_[equals + 1] != u'"' || !Equal(start, QLatin1StringView("http")))
        return;
      kind = ValueKind::kImage;
    } else if (!KindOf(name, kind)) {
      return;
    }
    if (kind == ValueKind::kLink && base) {
      if (baseFound_) return;
      baseFound_ = true;
      kind = ValueKind::kBase;
    }
    found_.push_back({kind, start, end - start});
  }

  // Where the content of the element `name` ends: at its end tag "</name"
  // followed by a blank, "/" or ">", or at the end of the page.
  qsizetype EndTag(qsizetype from, QStringView name) const {
    for (qsizetype at = page_.indexOf(u"</", from); at >= 0; at = page_.indexOf(u"</", at + 2)) {
      const qsizetype after = at + 2 + name.size();
      if (after > n_ || page_.mid(at + 2, name.size()).compare(name, Qt::CaseInsensitive) != 0)
        continue;
      if (after == n_ || IsSpace(p_[after]) || p_[after] == u'/' || p_[after] == u'>') return at;
    }
    return n_;
  }

  // Quoted values in a script: src="...", href='...' and the like, also with
  // the quotes escaped by a backslash as inside a script's own strings.
  void ScriptValues(qsizetype from, qsizetype to) {
    const QStringView script = page_.mid(from, to - from);
    for (qsizetype eq = script.indexOf(u'='); eq >= 0; eq = script.indexOf(u'=', eq + 1)) {
      qsizetype nameEnd = eq;
      while (nameEnd > 0 && IsSpace(script[nameEnd - 1].unicode())) --nameEnd;
      ValueKind kind;
      if (!KindOf(script.first(nameEnd), kind)) continue;
      qsizetype q = eq + 1;
      while (q < script.size() && IsSpace(script[q].unicode())) ++q;
      const bool escaped = q < script.size() && script[q] == u'\\';
      if (escaped) ++q;
      if (q >= script.size() || (script[q] != u'"' && script[q] != u'\'')) continue;
      const QChar quote = script[q];
      qsizetype close = script.indexOf(quote, q + 1);
      while (escaped && close > 0 && script[close - 1] != u'\\')
        close = script.indexOf(quote, close + 1);
      if (close < 0) continue;
      const qsizetype end = escaped ? close - 1 : close;
      found_.push_back({kind, from + q + 1, end - q - 1});
      eq = close;
    }
  }

  const char16_t* p_;
  qsizetype n_;
  QStringView page_;
  std::vector<FoundValue> found_;
  bool baseFound_ = false;
};

}  // namespace

std::vector<FoundValue> ScanTags(QStringView page) { return TagScanner(page).Run(); }

std::vector<QStringView> SrcsetAddresses(QStringView value) {
  std::vector<QStringView> out;
  qsizetype i = 0;
  const qsizetype n = value.size();
  while (i < n) {
    while (i < n && (IsSpace(value[i].unicode()) || value[i] == u',')) ++i;
    if (i >= n) break;
    const qsizetype start = i;
    while (i < n && !IsSpace(value[i].unicode())) ++i;
    QStringView address = value.mid(start, i - start);
    if (address.endsWith(u',')) {
      while (address.endsWith(u',')) address.chop(1);
      out.push_back(address);
      continue;
    }
    out.push_back(address);
    // The descriptors, up to the comma that ends the candidate (a comma
    // inside parentheses does not).
    int depth = 0;
    for (; i < n; ++i) {
      const QChar c = value[i];
      if (c == u'(') ++depth;
      if (c == u')' && depth > 0) --depth;
      if (c == u',' && depth == 0) break;
    }
  }
  return out;
}

}  // namespace qm::pagetext
