#pragma once
// A set of 16-hex-digit fingerprints (see Md5Key). It stands for a fingerprint
// list held as text ("XXXXXXXXXXXXXXXX," per entry): a 16-digit fingerprint
// cannot straddle a "," of that text, so membership equals the text's substring
// test, while test and insert are O(1). Open addressing over 64-bit keys keeps
// it near 8-16 bytes per entry.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm {

class FingerprintSet {
 public:
  bool Contains(std::uint64_t key) const;
  // Starts fetching the place of `key` from memory, for a Contains or Insert
  // of it a little later: callers that know their next keys overlap the
  // waits of a big set.
  void Prefetch(std::uint64_t key) const;
  // Inserts; returns false when the key was present already.
  bool Insert(std::uint64_t key);
  void Clear();
  std::size_t Count() const { return count_; }
  // Length of the list's text form: 17 characters per entry.
  std::size_t TextLength() const { return count_ * 17; }
  // Bytes held by the table.
  std::size_t MemoryBytes() const { return table_.size * sizeof(std::uint64_t); }

 private:
  struct Table {
    struct Deleter {
      void operator()(std::uint64_t* p) const;
    };
    std::unique_ptr<std::uint64_t[], Deleter> cells;  // 0 marks an empty slot
    std::size_t size = 0;                             // a power of two
    int shift = 64;                                   // 64 - log2(size)
  };
  static Table Allocate(std::size_t size);
  void Grow();
  Table table_;
  bool hasZero_ = false;  // the key 0 is kept aside
  std::size_t count_ = 0;
};

}  // namespace qm
