#pragma once
// The double-byte Chinese code page used wherever text becomes bytes or bytes
// become text (log files, error file, fingerprints, GBK pages).
#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace qm {

QByteArray ToGbk(const QString& text);

// The bytes of a text as a fingerprint takes them, one UTF-16 unit at a time:
// a unit that the code page writes with a lead and a trail byte gives those
// two bytes, lead byte first; every other unit gives the low byte of its own
// code. The one-byte codes stay themselves; a unit the code page cannot write
// (which ToGbk writes as "?") gives the byte of whichever one-byte code shares
// its low byte, by design: "Ł" (U+0141) counts as "A", U+3400 as NUL. So two
// addresses apart only in such letters keep apart when the letters differ in
// their low bytes (한국 and 서울), not when they share them.
QByteArray FingerprintBytes(QStringView text);
QString FromGbk(const QByteArray& bytes);

// iconv from `from` to `to`; each byte that cannot be converted becomes
// `replacement`. Nothing when iconv does not know one of the names.
std::optional<QByteArray> IconvConvert(const QByteArray& in, const char* to, const char* from,
                                       const QByteArray& replacement);

}  // namespace qm
