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

// Every point where a path has let go of registryLock or a regionMutex and
// calls out next (to the lower library, the host or ViDazoHx_Close()) has a
// seam: those are the windows in which another host thread may act on the
// same session value. kSeamCount follows the last of them.
enum class tSeam {
  acquireAfterEnsure,       // an acquisition has ensured its FIFO record and looks it up again
  releaseBeforeOwnClose,    // a release decided to finish a put-off close and calls it next
  closeBeforeLowerClose,    // a close removed the record; withdraws and closes in the lower library next
  closeBeforePendingParent, // a close closed its session; settles the parent that waited for it next
  openBeforeUndo,           // an open failed after the lower open; closes the new session next
  startFifoBeforeLower,     // FIFO start ensured the record; starts the FIFO in the lower library next
  guardBeforeForward,       // download or reset found no region out; forwards next
  acquireBeforeLower        // an acquisition holds its FIFO's turn lock; asks the lower library next
};
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
