#pragma once
// The double-byte Chinese code page used wherever text becomes bytes or bytes
// become text (log files, error file, fingerprints, GBK pages).
#include <QByteArray>
#include <QString>
#include <optional>

namespace qm {

QByteArray ToGbk(const QString& text);
QString FromGbk(const QByteArray& bytes);

// iconv from `from` to `to`; each byte that cannot be converted becomes
// `replacement`. Nothing when iconv does not know one of the names.
std::optional<QByteArray> IconvConvert(const QByteArray& in, const char* to, const char* from,
                                       const QByteArray& replacement);

}  // namespace qm
