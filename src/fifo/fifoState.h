// -----------------------------------------------------------------------------
// File: fifoState.h
// -----------------------------------------------------------------------------
//
// tFifoState, the library's record of one DMA FIFO of one open session, and
// tRegionEntry, one region of that FIFO lent to the host.
//
// Records are created on first use by getOrCreateFifoState() (fifoStart.h)
// and live in the fifoStates map of their session record (sessions/
// registry.h) until the session is closed. Locks, innermost last:
//
//   registryLock -> sessionLock -> acquireMutex -> regionMutex -> event mutex
//
// acquireMutex serialises acquisitions on one FIFO for their whole run;
// regionMutex guards only `regions`, so a release can give elements back
// while an acquisition waits for its turn on acquireEvent.
//
// A record in a map is always fully built: a record whose members could not
// be created is removed again within the call that inserted it, so holders of
// a record may lock its mutexes without null checks.
#pragma once

#include <atomic>
#include <cstdint>

#include "protons/status/stlStatus.h"
#include "quarks/synchronization.h"

struct tSessionState;
struct tFifoState;

// One region lent to the host. The host's reference data record points at
// it, so it keeps its address while queued.
struct tRegionEntry {
  uint32_t session;       // as the host passed it (bit 0x4000 not set)
  uint32_t fifo;          // FIFO number
  uint32_t elementCount;  // elements the lower library lent for this region
  tFifoState* fifoState;  // the record whose `regions` holds this entry
  bool released;          // the host let go while older regions were still out
};

// tRegionQueue: the regions of one FIFO, oldest first. Entries are added at
// the back and leave only from the front; a region that was just added but
// could not be lent is marked released and leaves in its turn (see
// giveBackUnlent() in acquire.cpp). Never throws: a failed allocation leaves
// the queue unchanged and sets the sticky allocationFailed flag.
class tRegionQueue {
 public:
  tRegionQueue();
  ~tRegionQueue();
  tRegionQueue(const tRegionQueue&) = delete;
  tRegionQueue& operator=(const tRegionQueue&) = delete;

  bool allocationFailed() const { return allocationFailed_; }
  bool empty() const { return head_ == nullptr; }
  uint32_t size() const { return size_; }
  // tRegionQueue::reserveNode(): takes the node of the next pushBack() now,
  // so that the push cannot fail. False when the queue is marked failed
  // already, or when no node can be had (allocationFailed is then set).
  bool reserveNode();
  // tRegionQueue::pushBack(): the new entry (stable address), or null with
  // allocationFailed set.
  tRegionEntry* pushBack(const tRegionEntry& entry);
  // front()/back(): null when empty. popFront() on an empty queue does
  // nothing; it frees the entry's storage.
  tRegionEntry* front();
  tRegionEntry* back();
  void popFront();

 private:
  // One node per entry: the host's reference points into a node, so nodes
  // never move; a region queue rarely holds more than a handful of entries.
  struct Node {
    tRegionEntry entry;
    Node* previous;
    Node* next;
  };
  Node* takeNode();
  void freeNode(Node* node);

  Node* head_;
  Node* tail_;
  // One node kept back from the last pop: a FIFO that streams regions one
  // after another then allocates nothing per region.
  Node* spare_;
  uint32_t size_;
  bool allocationFailed_;
};

struct tFifoState {
  tSessionState* owner;        // the session record whose fifoStates holds this record
  tStatus constructionStatus;  // failures while the members were created
  tMutex* regionMutex;         // guards `regions`
  tRegionQueue regions;        // regions lent to the host, oldest first
  tMutex* acquireMutex;        // one acquisition at a time on this FIFO
  tEvent* acquireEvent;        // the turn to try a lower-library acquisition (auto-reset, starts signalled)

  // Creates regionMutex, acquireMutex and acquireEvent in that order into
  // constructionStatus; after a failure the rest stay null.
  explicit tFifoState(tSessionState* ownerState);
  // Destroys the event, acquireMutex, regionMutex and the queue storage.
  ~tFifoState();
  tFifoState(const tFifoState&) = delete;
  tFifoState& operator=(const tFifoState&) = delete;
};
