#pragma once
// Addresses read the way a browser reads them: character references decoded,
// and a reference resolved against the address of the page it stands on.
// Used by the crawl's browser addressing; the default reading of addresses
// does not come here.
#include <QString>
#include <QStringView>

namespace qm {

// An attribute value with its character references decoded: "&amp;",
// "&#38;", "&#x26;" and the named references an address may hold. A
// reference without its ";" is decoded only where a browser decodes it in an
// attribute (not before a letter, a digit or "="); anything else stays as
// written.
QString DecodeCharacterReferences(QStringView value);

// An absolute http or https address in its parts, against which the
// references found on its page are resolved.
class AddressBase {
 public:
  AddressBase() = default;
  // Valid only for an absolute http or https address (read with the rules of
  // Resolve).
  explicit AddressBase(QStringView address);

  bool Valid() const { return !authority_.isEmpty(); }
  // The address itself, as Resolve writes addresses.
  QString Address() const;

  // Resolves `reference` against this base as browsers do: blanks and
  // control characters at either end and every tab and line break are
  // dropped; a backslash before the query reads as "/"; "//host/p", "/p",
  // "?q", "p", "./p" and "../p" are resolved and dot segments removed; the
  // fragment is dropped. Scheme and host are lower-cased and a default port
  // dropped; path and query stay as written (a double quote and control
  // characters are percent-encoded, so no address holds a list separator).
  // False, with `out` untouched, when the result is not an http or https
  // address or its host is malformed.
  bool Resolve(QStringView reference, QString& out) const;

 private:
  bool https_ = false;
  QString authority_;  // user information as written, host lower-cased, port; empty: invalid
  QString path_;       // begins with "/"
  QString query_;      // with its "?", or empty
};

}  // namespace qm
