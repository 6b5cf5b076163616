#include "web/fingerprint_set.h"

#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace qm {
namespace {

// Fingerprints are MD5 bits already; one multiply spreads any pattern a
// caller might feed in. The home cell is taken from the top bits of the
// product: doubling the table then sends the keys of cell i to cells 2i and
// 2i + 1, so that a growth writes the new table front to back instead of at
// random places.
inline std::size_t Home(std::uint64_t key, int shift) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift);
}

constexpr std::size_t kFirstSize = 64;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void FingerprintSet::Table::Deleter::operator()(std::uint64_t* p) const { std::free(p); }

// A zeroed table of `size` cells. Tables of 2 MB and more are aligned to and
// marked for huge pages where the system offers them: at a million entries
// the table spans thousands of ordinary pages, and nearly every test would
// otherwise also miss the address translation cache.
FingerprintSet::Table FingerprintSet::Allocate(std::size_t size) {
  const std::size_t bytes = size * sizeof(std::uint64_t);
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : 64;
  void* p = std::aligned_alloc(alignment, bytes);
  if (!p) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes >= kHugePage) madvise(p, bytes, MADV_HUGEPAGE);
#endif
  std::memset(p, 0, bytes);
  Table t;
  t.cells.reset(static_cast<std::uint64_t*>(p));
  t.size = size;
  t.shift = 64;
  for (std::size_t s = size; s > 1; s >>= 1) --t.shift;
  return t;
}

void FingerprintSet::Prefetch(std::uint64_t key) const {
  if (table_.size != 0) __builtin_prefetch(table_.cells.get() + Home(key, table_.shift));
}

bool FingerprintSet::Contains(std::uint64_t key) const {
  if (key == 0) return hasZero_;
  if (table_.size == 0) return false;
  const std::uint64_t* cells = table_.cells.get();
  const std::size_t mask = table_.size - 1;
  for (std::size_t i = Home(key, table_.shift);; i = (i + 1) & mask) {
    const std::uint64_t k = cells[i];
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
  if ((count_ + 1) * 4 > table_.size * 3) Grow();
  std::uint64_t* cells = table_.cells.get();
  const std::size_t mask = table_.size - 1;
  for (std::size_t i = Home(key, table_.shift);; i = (i + 1) & mask) {
    std::uint64_t& k = cells[i];
    if (k == key) return false;
    if (k == 0) {
      k = key;
      ++count_;
      return true;
    }
  }
}

void FingerprintSet::Clear() {
  table_ = Table();
  hasZero_ = false;
  count_ = 0;
}

void FingerprintSet::Grow() {
  Table old = std::move(table_);
  table_ = Allocate(old.size == 0 ? kFirstSize : old.size * 2);
  std::uint64_t* cells = table_.cells.get();
  const std::size_t mask = table_.size - 1;
  for (std::size_t j = 0; j < old.size; ++j) {
    const std::uint64_t key = old.cells[j];
    if (key == 0) continue;
    std::size_t i = Home(key, table_.shift);
    while (cells[i] != 0) i = (i + 1) & mask;
    cells[i] = key;
  }
}

}  // namespace qm
