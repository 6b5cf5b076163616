#pragma once
// Shared by the fuzz targets: the input bytes as the text a caller would pass.
#include <QString>
#include <cstddef>
#include <cstdint>

inline QString FuzzText(const std::uint8_t* data, std::size_t size) {
  return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Splits the input at the first NUL byte into two texts (a second argument).
inline void FuzzTwoTexts(const std::uint8_t* data, std::size_t size, QString& a, QString& b) {
  std::size_t i = 0;
  while (i < size && data[i] != 0) ++i;
  a = FuzzText(data, i);
  b = i < size ? FuzzText(data + i + 1, size - i - 1) : QString();
}
