#pragma once
// Putting text on the system clipboard.
#include <QString>
#include <functional>

class QClipboard;

namespace qm {

// Shows a critical message (text, title) with one OK button. The program shows
// a real message box; tests record the message instead.
using MessageSink = std::function<void(const QString& text, const QString& title)>;

// Empties the clipboard and puts `text` on it as plain text. When the clipboard
// cannot be used (no clipboard, or it does not hold the text afterwards) the
// message "复制失败!" goes to `critical` with `title`; the caller is not told.
void CopyText(const QString& text, const MessageSink& critical, const QString& title,
              QClipboard* clipboard);
// The same on the application's clipboard.
void CopyText(const QString& text, const MessageSink& critical, const QString& title);

}  // namespace qm
