/*
 * stateHost.c: a host brought into a known state for the gdb tests. A
 * session with a resource session under it; a region of the child's FIFO out
 * that fills the FIFO; the child's close and the parent's close both put
 * off; a second thread waiting for that FIFO's turn; a third closing the
 * child, which holds registryLock and waits for the FIFO's acquireMutex
 * (the second thread's); a fourth starting a FIFO of the parent, which
 * waits for registryLock. Then stateReached(),
 * where the tests stop it (live, or to write a core). Run on, it lets the
 * regions go, so the put-off closes finish on their own, and exits 0.
 */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <HostRuntime/HostRuntimeSim.h>
#include <ViDazo/ViDazoSim.h>
#include <ViDazoHx/ViDazoHx.h>

#define FIFO 15u /* host to target, 32-bit elements */
#define LOWER_ACQUIRE "ViDazoDll_AcquireFifoWriteElementsU32"

static uint32_t parent, child;
static uint32_t waiterReference;
static long waiterTid, closerTid, starterTid;

static void check(const char* what, int32_t got, int32_t want) {
  if (got == want) return;
  fprintf(stderr, "stateHost: %s answered %d, not %d\n", what, (int)got, (int)want);
  exit(EXIT_FAILURE);
}

/* Asks for one element more than the full FIFO leaves: the lower library
 * answers that elements are out, so the acquisition waits for the turn a
 * release gives. */
static void* waitForTurn(void* unused) {
  uint32_t acquired = 0;
  (void)unused;
  __atomic_store_n(&waiterTid, (long)syscall(SYS_gettid), __ATOMIC_SEQ_CST);
  check("the waiting acquisition",
        ViDazoHx_AcquireFifoWriteRegionScalar(child, FIFO, &waiterReference, 1, ViDazoHx_TypeU32, 0,
                                              ViDazoHx_InfiniteTimeout, &acquired, NULL),
        0);
  return NULL;
}

/* Closes the child while the waiter holds the FIFO: the close refuses once
 * it can look at the FIFO. */
static void* closeChild(void* unused) {
  (void)unused;
  __atomic_store_n(&closerTid, (long)syscall(SYS_gettid), __ATOMIC_SEQ_CST);
  check("the blocked close", ViDazoHx_Close(child, 0), ViDazoHx_StatusRegionsOutstanding);
  return NULL;
}

static void* startParentFifo(void* unused) {
  (void)unused;
  __atomic_store_n(&starterTid, (long)syscall(SYS_gettid), __ATOMIC_SEQ_CST);
  check("the blocked StartFifo", ViDazoHx_StartFifo(parent, 6), 0);
  return NULL;
}

/* Whether the thread has announced itself and sleeps. Each thread here
 * sleeps once on its way, at the wait the test wants; the waiter only
 * after its second lower acquisition has answered. */
static int sleeping(const long* tidOf) {
  char path[64], stat[256];
  long tid = __atomic_load_n(tidOf, __ATOMIC_SEQ_CST);
  FILE* file;
  size_t length;
  const char* state;
  if (tid == 0 || (tidOf == &waiterTid && ViDazoSim_CountJournalRecords(LOWER_ACQUIRE) < 2)) return 0;
  snprintf(path, sizeof path, "/proc/self/task/%ld/stat", tid);
  file = fopen(path, "r");
  if (file == NULL) return 0;
  length = fread(stat, 1, sizeof stat - 1, file);
  fclose(file);
  stat[length] = '\0';
  state = strrchr(stat, ')');
  return state != NULL && state[1] == ' ' && state[2] == 'S';
}

/* The tests' breakpoint. */
__attribute__((noinline)) void stateReached(uint32_t parent, uint32_t resource) {
  printf("stateHost: parent %u, child %u\n", parent, resource);
  fflush(stdout);
  __asm__ volatile("" ::: "memory");
}

/* Starts `body` on a thread and returns once it sleeps (20 s at most). */
static pthread_t startAndWait(void* (*body)(void*), const long* tidOf) {
  struct timespec pause = {0, 1000000};
  pthread_t thread;
  int polls;
  check("pthread_create", pthread_create(&thread, NULL, body, NULL), 0);
  for (polls = 0; !sleeping(tidOf); ++polls) {
    if (polls == 20000) check("a thread reaching its wait", 0, 1);
    nanosleep(&pause, NULL); /* another thread's kernel state: no event to wait on */
  }
  return thread;
}

int main(void) {
  uint32_t reference = 0, acquired = 0, depth = 0;
  pthread_t waiter, closer, starter;

  ViDazoSim_SetJournalEnabled(1);
  check("GetFifoLayout", ViDazoSim_GetFifoLayout(FIFO, NULL, NULL, &depth), 0);
  check("Open", ViDazoHx_Open("state.bitfile", "state-signature", "sim0", 0, &parent), 0);
  check("OpenResource", ViDazoHx_OpenResource(parent, "sim1", 0, &child), 0);
  check("StartFifo", ViDazoHx_StartFifo(child, FIFO), 0);
  /* The target takes what the host commits, so that releasing the full
   * region makes room for the waiter. */
  check("StartDevice", ViDazoSim_StartDevice(child, FIFO, 1, 0), 0);
  check("AcquireFifoWriteRegionScalar",
        ViDazoHx_AcquireFifoWriteRegionScalar(child, FIFO, &reference, depth, ViDazoHx_TypeU32, 0, 0, &acquired,
                                              NULL),
        0);
  check("Close of the child", ViDazoHx_Close(child, 0), ViDazoHx_StatusRegionsOutstanding);
  check("Close of the parent", ViDazoHx_Close(parent, 0), ViDazoHx_StatusRegionsOutstanding);

  waiter = startAndWait(waitForTurn, &waiterTid);
  closer = startAndWait(closeChild, &closerTid);
  starter = startAndWait(startParentFifo, &starterTid);
  stateReached(parent, child);

  /* Releasing the full region makes room for the waiter, whose region then
   * puts the child's close off again; releasing that one finishes the
   * child's close, and with it the parent's. */
  check("dispose of the full region", HostRuntimeSim_DisposeReference(reference), ViDazoHx_StatusRegionsOutstanding);
  check("pthread_join", pthread_join(waiter, NULL), 0);
  check("pthread_join", pthread_join(closer, NULL), 0);
  check("pthread_join", pthread_join(starter, NULL), 0);
  check("StopDevice", ViDazoSim_StopDevice(child, FIFO), 0);
  check("dispose of the waiter's region", HostRuntimeSim_DisposeReference(waiterReference), 0);
  check("sessions left open below", (int32_t)ViDazoSim_OpenSessionCount(), 0);
  puts("stateHost: every session closed");
  return EXIT_SUCCESS;
}
