#pragma once
// Stored properties of a control: named values kept with the window that
// holds the control, read back when the window is created. The bag records
// the order in which keys are read and written.
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace qm {

class PropertyBag {
 public:
  // The stored value of `key`, or `fallback` when the key is missing.
  QVariant ReadProperty(const QString& key, const QVariant& fallback = QVariant());
  void WriteProperty(const QString& key, const QVariant& value);

  bool Contains(const QString& key) const { return values_.contains(key); }
  QVariant Value(const QString& key) const { return values_.value(key); }
  QStringList Keys() const { return values_.keys(); }
  const QStringList& ReadLog() const { return reads_; }
  const QStringList& WriteLog() const { return writes_; }
  void ClearLogs();

 private:
  QVariantMap values_;
  QStringList reads_;
  QStringList writes_;
};

// A stored font: name, point size, weight and character set.
struct StoredFont {
  QString name;
  double size = 9;
  int weight = 400;
  int charset = 134;

  QVariant ToVariant() const;
  static StoredFont FromVariant(const QVariant& value, const StoredFont& fallback);
  static StoredFont FromFont(const QFont& font, int charset);
  QFont ToFont() const;
};

// A stored colour is either a plain colour (QColor) or a reference to a
// system colour (an int holding a QPalette::ColorRole).
QVariant SystemColorRef(QPalette::ColorRole role);
QColor ResolveColor(const QVariant& ref, const QColor& fallback);

}  // namespace qm
