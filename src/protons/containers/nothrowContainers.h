// nothrowContainers.h: the small containers of the session registry and
// the FIFO records: an ordered map keyed by uint32, a list of uint32 values
// and a queue of entries with stable addresses.
//
// None of them throws. A node allocation that fails leaves the container as
// it was and sets its `allocationFailed` flag, which is sticky: nothing
// clears it for the container's lifetime. Users check it after a change with
// containerCheck() (stlStatus.h), which turns it into StatusMemoryFull. The
// standard containers cannot report a failed allocation without throwing,
// hence these.
//
// None of them locks: the owner's lock guards them. The one exception is the
// map's allocationFailed flag, which is atomic so that a caller may test it
// without the owner's lock (opening a session reads the registry's flag
// before it takes any lock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace containers_detail {

// A growable array of pointers or values of trivially copyable type,
// allocated with malloc/realloc so that growth can fail without throwing.
template <typename T>
class tGrowableArray {
 public:
  explicit tGrowableArray(uint32_t initialCapacity) {
    items_ = static_cast<T*>(std::malloc(bytesFor(initialCapacity)));
    capacity_ = items_ != nullptr ? initialCapacity : 0;
  }
  ~tGrowableArray() { std::free(items_); }
  tGrowableArray(const tGrowableArray&) = delete;
  tGrowableArray& operator=(const tGrowableArray&) = delete;

  bool valid() const { return items_ != nullptr; }
  uint32_t size() const { return size_; }
  T& operator[](uint32_t index) { return items_[index]; }
  const T& operator[](uint32_t index) const { return items_[index]; }

  // Inserts `value` at `index`; false (nothing changed) when growth failed.
  bool insertAt(uint32_t index, const T& value) {
    if (size_ == capacity_ && !grow()) return false;
    std::memmove(items_ + index + 1, items_ + index, bytesFor(size_ - index));
    items_[index] = value;
    ++size_;
    return true;
  }
  void eraseAt(uint32_t index) {
    std::memmove(items_ + index, items_ + index + 1, bytesFor(size_ - index - 1));
    --size_;
  }

 private:
  // The map keeps its node pointers here: for it T is a pointer, and
  // sizeof(T) is the size of the pointer, as meant.
  static size_t bytesFor(uint32_t count) {
    return sizeof(T) * count;  // NOLINT(bugprone-sizeof-expression): the map's items are node pointers by design
  }

  bool grow() {
    uint32_t newCapacity = capacity_ == 0 ? 4 : capacity_ * 2;
    T* grown = static_cast<T*>(std::realloc(items_, bytesFor(newCapacity)));
    if (grown == nullptr) return false;
    items_ = grown;
    capacity_ = newCapacity;
    return true;
  }

  T* items_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace containers_detail

// tOrderedMap<V>: uint32 keys, compared unsigned, ascending; each key at most
// once. Values live in nodes of their own, so a value keeps its address while
// it is in the map. Lookup is a binary search (logarithmic).
template <typename V>
class tOrderedMap {
 public:
  tOrderedMap() noexcept : nodes_(kInitialCapacity), allocationFailed_(!nodes_.valid()) {}
  ~tOrderedMap() { clear(); }
  tOrderedMap(const tOrderedMap&) = delete;
  tOrderedMap& operator=(const tOrderedMap&) = delete;

  bool allocationFailed() const { return allocationFailed_.load(std::memory_order_relaxed); }
  uint32_t size() const { return nodes_.size(); }
  bool empty() const { return nodes_.size() == 0; }

  // tOrderedMap::nodeBytes(): the size of one node allocation, so that a test
  // can make exactly that allocation fail.
  static constexpr std::size_t nodeBytes() { return sizeof(Node); }

  // tOrderedMap::find(): the value stored under `key`, or null.
  V* find(uint32_t key) {
    uint32_t index = lowerBound(key);
    if (index < nodes_.size() && nodes_[index]->key == key) return &nodes_[index]->value;
    return nullptr;
  }

  // tOrderedMap::emplace(): the value under `key`; when absent, a new value
  // constructed from `args` is inserted first (*inserted = true). Returns
  // null, setting allocationFailed, when a node could not be allocated.
  template <typename... Args>
  V* emplace(uint32_t key, bool* inserted, Args&&... args) {
    *inserted = false;
    uint32_t index = lowerBound(key);
    if (index < nodes_.size() && nodes_[index]->key == key) return &nodes_[index]->value;
    void* memory = ::operator new(sizeof(Node), std::nothrow);
    if (memory == nullptr) return failed();
    Node* node = new (memory) Node(key, std::forward<Args>(args)...);
    if (!nodes_.insertAt(index, node)) {
      destroy(node);
      return failed();
    }
    *inserted = true;
    return &node->value;
  }

  // tOrderedMap::erase(): destroys the value under `key`; false when absent.
  bool erase(uint32_t key) {
    uint32_t index = lowerBound(key);
    if (index >= nodes_.size() || nodes_[index]->key != key) return false;
    eraseAt(index);
    return true;
  }

  // Ascending traversal by position: keyAt(i) / valueAt(i) for i < size().
  // Erasing position i moves later elements down by one, so a walk that
  // erases as it goes keeps its index and re-reads size().
  uint32_t keyAt(uint32_t index) const { return nodes_[index]->key; }
  V& valueAt(uint32_t index) { return nodes_[index]->value; }
  void eraseAt(uint32_t index) {
    Node* node = nodes_[index];
    nodes_.eraseAt(index);
    destroy(node);
  }

  // tOrderedMap::lowerBound(): position of the first key not less than `key`.
  uint32_t lowerBound(uint32_t key) const {
    uint32_t low = 0, high = nodes_.size();
    while (low < high) {
      uint32_t middle = low + (high - low) / 2;
      if (nodes_[middle]->key < key) low = middle + 1; else high = middle;
    }
    return low;
  }

  void clear() {
    while (nodes_.size() != 0) {
      Node* node = nodes_[nodes_.size() - 1];
      nodes_.eraseAt(nodes_.size() - 1);
      destroy(node);
    }
  }

 private:
  static constexpr uint32_t kInitialCapacity = 4;
  struct Node {
    template <typename... Args>
    explicit Node(uint32_t k, Args&&... args) : key(k), value(std::forward<Args>(args)...) {}
    uint32_t key;
    V value;
  };
  static void destroy(Node* node) {
    node->~Node();
    ::operator delete(node, std::nothrow);
  }
  V* failed() {
    allocationFailed_.store(true, std::memory_order_relaxed);
    return nullptr;
  }

  containers_detail::tGrowableArray<Node*> nodes_;
  std::atomic<bool> allocationFailed_;
};

// tValueList: uint32 values in insertion order.
class tValueList {
 public:
  tValueList() : values_(kInitialCapacity) { allocationFailed_ = !values_.valid(); }
  bool allocationFailed() const { return allocationFailed_; }
  uint32_t size() const { return values_.size(); }
  bool empty() const { return values_.size() == 0; }
  uint32_t at(uint32_t index) const { return values_[index]; }

  // tValueList::append(): false, setting allocationFailed, when it cannot grow.
  bool append(uint32_t value) {
    if (values_.insertAt(values_.size(), value)) return true;
    allocationFailed_ = true;
    return false;
  }
  void removeAt(uint32_t index) { values_.eraseAt(index); }
  // tValueList::removeFirst(): removes the first element equal to `value`.
  bool removeFirst(uint32_t value) {
    for (uint32_t i = 0; i < values_.size(); ++i) {
      if (values_[i] == value) {
        values_.eraseAt(i);
        return true;
      }
    }
    return false;
  }

 private:
  friend class tValueListTestPeer;  // tests stand in for a failed growth
  static constexpr uint32_t kInitialCapacity = 4;
  containers_detail::tGrowableArray<uint32_t> values_;
  bool allocationFailed_ = false;
};
