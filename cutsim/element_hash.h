#pragma once
// Spatial hash of the collision broad phase: integer keys to element indices.
// Entries are added in a fixed order and then grouped by key with a stable
// counting sort, so that a key lists its elements in the order they were
// added (the order an ordered multimap keeps for equal keys). The arrays keep
// their capacity between time steps: refilling allocates nothing once they
// have grown to the body's size.
#include <array>
#include <cstdint>
#include <vector>

class ElementHash {
 public:
  void clear() {
    start_.clear();
    elements_.clear();
    entries_.clear();
    keyCount_ = 0;
  }

  // Starts a fill with keys 0 .. keyCount - 1.
  void Begin(int32_t keyCount) {
    keyCount_ = keyCount;
    entries_.clear();
  }
  void Add(int32_t key, int32_t element) { entries_.push_back({key, element}); }
  // Groups the added entries by key.
  void Finish() {
    start_.assign(static_cast<size_t>(keyCount_) + 1, 0);
    for (const auto& entry : entries_) ++start_[entry[0] + 1];
    for (int32_t k = 0; k < keyCount_; ++k) start_[k + 1] += start_[k];
    elements_.resize(entries_.size());
    // start_[k] walks through key k's range and ends at the start of k + 1
    for (const auto& entry : entries_) elements_[start_[entry[0]]++] = entry[1];
    for (int32_t k = keyCount_; k > 0; --k) start_[k] = start_[k - 1];
    start_[0] = 0;
  }

  // Elements under a key, as [first, last); empty for a key out of range.
  const int32_t* First(int32_t key) const { return InRange(key) ? elements_.data() + start_[key] : nullptr; }
  const int32_t* Last(int32_t key) const { return InRange(key) ? elements_.data() + start_[key + 1] : nullptr; }

  int32_t keyCount() const { return keyCount_; }
  size_t size() const { return elements_.size(); }
  bool empty() const { return elements_.empty(); }
  // (key, element) in the order they were added.
  const std::vector<std::array<int32_t, 2>>& entries() const { return entries_; }

 private:
  bool InRange(int32_t key) const { return key >= 0 && key < keyCount_ && !start_.empty(); }

  std::vector<int32_t> start_;                   // [key + 1] prefix sums of the entries per key
  std::vector<int32_t> elements_;                // elements grouped by key
  std::vector<std::array<int32_t, 2>> entries_;  // (key, element) as added
  int32_t keyCount_ = 0;
};
