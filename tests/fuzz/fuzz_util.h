#pragma once
// The input bytes as the text a caller would pass.
#include <QString>
#include <cstddef>
#include <cstdint>

inline QString FuzzText(const std::uint8_t* data, std::size_t size) {
  return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}
