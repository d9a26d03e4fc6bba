// -----------------------------------------------------------------------------
// File: fifoState.cpp
// -----------------------------------------------------------------------------
//
// The region queue and the construction and destruction of FIFO records.

#include "fifo/fifoState.h"

#include <new>

#include "protons/cppNewDelete/memoryAllocation.h"
#include "protons/seam/seam.h"

// tRegionQueue::tRegionQueue()
// Allocates nothing: an empty queue has no storage, so building a FIFO
// record cannot fail because of its queue.
tRegionQueue::tRegionQueue()
    : head_(nullptr), tail_(nullptr), spare_(nullptr), size_(0), allocationFailed_(false) {}

// tRegionQueue::~tRegionQueue()
// Frees whatever is still queued. While the library is loaded a record is
// destroyed only with its queue empty; at unload entries may remain, and the
// host's references to them are not looked at again.
tRegionQueue::~tRegionQueue() {
  while (head_ != nullptr) popFront();
  ::operator delete(spare_.load(std::memory_order_acquire), std::nothrow);
}

// tRegionQueue::reserveNode()
// The reserved node waits as the spare: a pop in between keeps it (it frees
// its own node instead), and only pushBack() takes it. When the region
// before was given back, its node is the spare already: then this is one
// load, with no regionMutex tenure, since only acquisitions (one at a time,
// under acquireMutex) take the spare and a release only fills an empty one.
// Otherwise takes regionMutex to put a new node there.
bool tRegionQueue::reserveNode(tMutex& regionMutex) {
  if (allocationFailed_) return false;
  if (spare_.load(std::memory_order_acquire) != nullptr) return true;
  reachSeam(tSeam::reserveFoundNoSpare);
  tMutexHolder regionHold(regionMutex);
  if (spare_.load(std::memory_order_relaxed) != nullptr) return true;  // a release filled it meanwhile
  Node* node = static_cast<Node*>(::operator new(sizeof(Node), std::nothrow));
  if (node == nullptr) {
    allocationFailed_ = true;
    return false;
  }
  spare_.store(node, std::memory_order_relaxed);
  return true;
}

// tRegionQueue::pushBack()
// Never throws. Returns the queued copy, whose address stays valid until
// it is popped, or null (queue unchanged, allocationFailed set for good).
tRegionEntry* tRegionQueue::pushBack(const tRegionEntry& entry) {
  void* memory = takeNode();
  if (memory == nullptr) {
    allocationFailed_ = true;
    return nullptr;
  }
  Node* node = new (memory) Node{entry, tail_, nullptr};
  if (tail_ != nullptr) tail_->next = node; else head_ = node;
  tail_ = node;
  ++size_;
  return &node->entry;
}

tRegionEntry* tRegionQueue::front() { return head_ != nullptr ? &head_->entry : nullptr; }

tRegionEntry* tRegionQueue::back() { return tail_ != nullptr ? &tail_->entry : nullptr; }

// tRegionQueue::popFront(): the oldest entry leaves; its storage is freed.
void tRegionQueue::popFront() {
  Node* node = head_;
  if (node == nullptr) return;
  head_ = node->next;
  if (head_ != nullptr) head_->previous = nullptr; else tail_ = nullptr;
  --size_;
  freeNode(node);
}

// tRegionQueue::takeNode(): the spare node, or a new one (null when the
// allocation fails).
tRegionQueue::Node* tRegionQueue::takeNode() {
  Node* node = spare_.load(std::memory_order_relaxed);
  if (node != nullptr) {
    spare_.store(nullptr, std::memory_order_relaxed);
    return node;
  }
  return static_cast<Node*>(::operator new(sizeof(Node), std::nothrow));
}

// tRegionQueue::freeNode(): keeps the node as the spare, or frees it when
// there is one already.
void tRegionQueue::freeNode(Node* node) {
  node->~Node();
  if (spare_.load(std::memory_order_relaxed) == nullptr) {
    spare_.store(node, std::memory_order_release);  // seen by reserveNode() without regionMutex
    return;
  }
  ::operator delete(node, std::nothrow);
}

// tFifoState::tFifoState()
// Creates the members in a fixed order into constructionStatus; after the
// first failure allocateObject refuses, so the later pointers stay null and
// the caller removes the record (see getOrCreateFifoState()).
tFifoState::tFifoState(tSessionState* ownerState)
    : owner(ownerState),
      constructionStatus(),
      regionMutex(nullptr),
      regions(),
      acquireMutex(nullptr),
      acquireEvent(nullptr) {
  regionMutex = createObject<tMutex>(constructionStatus);
  acquireMutex = createObject<tMutex>(constructionStatus);
  acquireEvent = createObject<tEvent>(constructionStatus, /*autoReset=*/true, /*initialState=*/true);
}

// tFifoState::~tFifoState()
// Releases only what was created; the queue storage goes with `regions`.
tFifoState::~tFifoState() {
  destroyObject(acquireEvent);
  destroyObject(acquireMutex);
  destroyObject(regionMutex);
}
