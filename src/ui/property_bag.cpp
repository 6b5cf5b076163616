#include "ui/property_bag.h"

#include <QApplication>
#include <algorithm>

namespace qm {

QVariant PropertyBag::ReadProperty(const QString& key, const QVariant& fallback) {
  reads_ << key;
  auto it = values_.constFind(key);
  return it == values_.constEnd() ? fallback : *it;
}

void PropertyBag::WriteProperty(const QString& key, const QVariant& value) {
  writes_ << key;
  values_.insert(key, value);
}

void PropertyBag::ClearLogs() {
  reads_.clear();
  writes_.clear();
}

QVariant StoredFont::ToVariant() const {
  return QVariantMap{{"Name", name}, {"Size", size}, {"Weight", weight}, {"Charset", charset}};
}

StoredFont StoredFont::FromVariant(const QVariant& value, const StoredFont& fallback) {
  if (value.typeId() != QMetaType::QVariantMap) return fallback;
  const QVariantMap map = value.toMap();
  StoredFont font = fallback;
  font.name = map.value("Name", fallback.name).toString();
  font.size = map.value("Size", fallback.size).toDouble();
  font.weight = map.value("Weight", fallback.weight).toInt();
  font.charset = map.value("Charset", fallback.charset).toInt();
  return font;
}

StoredFont StoredFont::FromFont(const QFont& font, int charset) {
  StoredFont stored;
  stored.name = font.family();
  stored.size = font.pointSizeF();
  stored.weight = font.weight();
  stored.charset = charset;
  return stored;
}

QFont StoredFont::ToFont() const {
  QFont font(name);
  if (size > 0) font.setPointSizeF(size);
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 1, 1000)));
  return font;
}

QVariant SystemColorRef(QPalette::ColorRole role) { return QVariant(static_cast<int>(role)); }

QColor ResolveColor(const QVariant& ref, const QColor& fallback) {
  if (ref.typeId() == QMetaType::QColor) return ref.value<QColor>();
  if (ref.typeId() == QMetaType::Int) {
    const int role = ref.toInt();
    if (role >= 0 && role < QPalette::NColorRoles)
      return QApplication::palette().color(QPalette::Active,
                                           static_cast<QPalette::ColorRole>(role));
  }
  return fallback;
}

}  // namespace qm
