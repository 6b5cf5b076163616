#pragma once
// Small text operations shared by every part of both programs.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace qm {

// The text between the first `start` in `text` and the next `end` after it.
// "Nothing" when `start` does not occur; the empty text when `end` does not
// follow it.
QString CutText(const QString& text, const QString& start, const QString& end);

// The position of the first `needle` in `haystack` at or after `from`, or -1:
// the answer of QString::indexOf, case-sensitive, for 0 <= from. Looks for the
// needle's first and last characters eight positions at a time.
qsizetype FindText(QStringView haystack, QStringView needle, qsizetype from = 0);

// ECMAScript decodeURI. Escapes of ; / ? : @ & = + $ , # stay as written;
// malformed escapes, invalid or overlong UTF-8 and surrogates fail.
std::optional<QString> DecodeUri(const QString& address);
// DecodeUri, giving the word "Nothing" on failure.
QString DecodeUrl(const QString& address);

// The leading decimal number of a text, as every settings box and field is
// read: leading blanks skipped, the number ends at the first character that
// cannot continue it (a unit behind it is ignored), a fraction is rounded to
// the nearest whole number with a half going to the even neighbour, and a text
// without a leading number gives 0. The value is whole but may lie outside
// any integer range; callers that need 32-bit range check it.
double LeadingNumber(const QString& text);
// The leading decimal number of a text as written, fraction kept (0 without a
// number): for comparisons such as "2.5 downloads at once" against a count.
double LeadingDecimal(const QString& text);
// LeadingNumber when it fits a signed 32-bit integer, otherwise nothing.
std::optional<std::int32_t> LeadingInt32(const QString& text);

// The text with every lone LF made a CR LF (lists of addresses are cut at CR
// LF; a text box may give bare LF line ends).
QString ToCrLf(const QString& text);

// Waits `ms` milliseconds on the monotonic clock, letting the calling thread's
// pending events run meanwhile (see yield.h). Does not spin a core.
void WaitMs(std::int32_t ms);

}  // namespace qm
