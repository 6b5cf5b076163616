#pragma once
// The double-byte Chinese code page used wherever text becomes bytes or bytes
// become text (log files, error file, fingerprints, GBK pages).
#include <QByteArray>
#include <QString>

namespace qm {

QByteArray ToGbk(const QString& text);
QString FromGbk(const QByteArray& bytes);

}  // namespace qm
