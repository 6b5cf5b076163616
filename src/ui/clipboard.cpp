#include "ui/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace qm {

void CopyText(const QString& text, const MessageSink& critical, const QString& title,
              QClipboard* clipboard) {
  bool ok = clipboard != nullptr;
  if (ok) {
    clipboard->clear();
    const QMimeData* left = clipboard->mimeData();
    ok = left == nullptr || !left->hasText() || left->text().isEmpty();
  }
  if (ok) {
    clipboard->setText(text);
    ok = clipboard->text() == text;
  }
  if (!ok && critical) critical(QStringLiteral("复制失败!"), title);
}

void CopyText(const QString& text, const MessageSink& critical, const QString& title) {
  CopyText(text, critical, title, QGuiApplication::clipboard());
}

}  // namespace qm
