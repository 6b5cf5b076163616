#pragma once
#include <QString>
#include <QStringView>
#include <cstddef>
#include <cstdint>

namespace qm {

// MD5 of the text's GBK bytes (ASCII stays ASCII) as upper-case hexadecimal:
// all 32 digits for length 32, otherwise the 16 middle digits (9 to 24).
QString Md5Text(const QString& text, int length);

// The 16-digit fingerprint of Md5Text(text, 16) as a number (the 16 hex digits
// read as one 64-bit value), the form in which fingerprint sets hold it.
std::uint64_t Md5Key(const QString& text);
std::uint64_t Md5Key(QStringView text);
// Md5Key of each of `count` texts into `keys`; short ASCII texts are digested
// several at a time.
void Md5Keys(const QStringView* texts, std::size_t count, std::uint64_t* keys);

}  // namespace qm
