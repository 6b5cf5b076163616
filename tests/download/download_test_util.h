#pragma once
// Small helpers shared by the download tests: folder listings and file contents.
#include <QString>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace qmtest {

// Names of the entries of a folder (sub-folders included).
inline std::set<std::string> ListFolder(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// A body that differs from every other body of another `seed`.
inline std::string PatternBody(int seed, std::size_t size) {
  std::string body(size, '\0');
  unsigned state = 2166136261u ^ static_cast<unsigned>(seed) * 16777619u;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    body[i] = static_cast<char>(state >> 16);
  }
  std::string tag = "<" + std::to_string(seed) + ">";
  body.replace(0, std::min(tag.size(), size), tag.substr(0, std::min(tag.size(), size)));
  return body;
}

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace qmtest
