#include "web/fingerprint_set.h"

namespace qm {
namespace {

// Fingerprints are MD5 bits already; one multiply spreads any pattern a
// caller might feed in.
inline std::size_t Slot(std::uint64_t key, std::size_t mask) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 17) & mask;
}

}  // namespace

bool FingerprintSet::Contains(std::uint64_t key) const {
  if (key == 0) return hasZero_;
  if (slots_.empty()) return false;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Slot(key, mask);; i = (i + 1) & mask) {
    const std::uint64_t k = slots_[i];
    if (k == key) return true;
    if (k == 0) return false;
  }
}

bool FingerprintSet::Insert(std::uint64_t key) {
  if (key == 0) {
    if (hasZero_) return false;
    hasZero_ = true;
    ++count_;
    return true;
  }
  // Keep the table at most three quarters full.
  if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Slot(key, mask);; i = (i + 1) & mask) {
    std::uint64_t& k = slots_[i];
    if (k == key) return false;
    if (k == 0) {
      k = key;
      ++count_;
      return true;
    }
  }
}

void FingerprintSet::Clear() {
  std::vector<std::uint64_t>().swap(slots_);
  hasZero_ = false;
  count_ = 0;
}

void FingerprintSet::Grow() {
  std::vector<std::uint64_t> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::uint64_t key : old) {
    if (key == 0) continue;
    std::size_t i = Slot(key, mask);
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = key;
  }
}

}  // namespace qm
