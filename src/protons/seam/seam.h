// seam.h: named points in the library's concurrent paths where a unit test
// may run code of its own.
//
// Some faults need another thread's step to land inside a window that real
// scheduling opens only rarely. A test installs a hook, and the hook runs on
// the thread that reaches the seam, exactly at the window, so the test can
// put the other step there and know it did. The library never installs a
// hook; with none installed a seam costs one load and a branch.
#pragma once

#include <atomic>

// The close seams sit in a close's window: its record is gone, registryLock
// is let go, and the session is still open below (closeAfterLowerClose: no
// longer, so the lower library may hand its value out again).
enum class tSeam {
  acquireAfterEnsure,                  // an acquisition has ensured its FIFO record and looks it up again
  releaseBeforeOwnClose,               // a release decided to finish a put-off close and calls it next
  closeBeforeWithdraw,                 // a host's (or cleanup's, or undo's) close withdraws the host registration next
  closeBeforeLowerClose,               // that close calls the lower close next
  putOffCloseBeforeWithdraw,           // the close a last release finishes withdraws the host registration next
  putOffCloseBeforeLowerClose,         // that close calls the lower close next
  parentCloseBeforeWithdraw,           // a pending parent's close, after its last child, withdraws next
  parentCloseBeforeLowerClose,         // that close calls the lower close next
  closeAfterLowerClose,                // any of those closes returned below; it ends its mark, then a pending parent's close
  closeBeforeWaitingForCloseInFlight,  // a host's close met another close of the value in flight and waits next
  undoBeforeClose,                     // an open that failed has let go of registryLock and closes its session next
  reserveFoundNoSpare,                 // an acquisition found no spare queue node and takes regionMutex to make one
  startFifoBeforeLower,                // FIFO start ensured the record; starts the FIFO in the lower library next
  guardBeforeForward,                  // download or reset found no region out; forwards next
  acquireBeforeLower,                  // an acquisition holds its FIFO's turn, its cleanup flag read; asks below next
  // Seams from here on are outside kSeamCount: they sit in the platform
  // layer, in no window between host threads on a session value, and the
  // interleaving sweep does not try them. Keep them after every counted seam.
  eventTimedWaitEnded                  // an event's timed wait ended unwoken; looks at the event once more next
};
// Every point where a path has let go of registryLock or a regionMutex and
// calls out next (to the lower library, the host or ViDazoHx_Close()) has a
// seam above: the windows in which another host thread may act on the same
// session value. A driver that tries each one counts them by kSeamCount.
constexpr int kSeamCount = static_cast<int>(tSeam::acquireBeforeLower) + 1;

using tSeamHook = void (*)(tSeam seam);

// Atomic because a test installs and removes the hook while library threads
// may be reaching seams.
inline std::atomic<tSeamHook> seamHook{nullptr};

// reachSeam(): calls the installed hook, if any, on this thread, with
// whatever locks the caller holds at that point.
inline void reachSeam(tSeam seam) {
  const tSeamHook hook = seamHook.load(std::memory_order_acquire);
  if (hook != nullptr) hook(seam);
}
