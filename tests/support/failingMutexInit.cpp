// failingMutexInit.cpp: the wrapped pthread_mutex_init (see failingMutexInit.h).

#include "failingMutexInit.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<bool> refusingPriorityInheritance{false};
std::atomic<int> creationsBeforeFailure{0};  // 0: none armed
std::atomic<int> armedError{0};

bool armedFailureIsDue() {
  int left = creationsBeforeFailure.load();
  while (left > 0) {
    if (creationsBeforeFailure.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}
}  // namespace

namespace testsupport {

void refusePriorityInheritance(bool refuse) { refusingPriorityInheritance.store(refuse); }

void failMutexCreation(int nth, int error) {
  armedError.store(error);
  creationsBeforeFailure.store(nth);
}

bool disarmMutexCreationFailure() { return creationsBeforeFailure.exchange(0) != 0; }

}  // namespace testsupport

extern "C" int __real_pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes);
extern "C" int __wrap_pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes) {
  if (armedFailureIsDue()) return armedError.load();
  int protocol = PTHREAD_PRIO_NONE;
  if (attributes != nullptr) pthread_mutexattr_getprotocol(attributes, &protocol);
  if (refusingPriorityInheritance.load() && protocol == PTHREAD_PRIO_INHERIT) return ENOTSUP;
  return __real_pthread_mutex_init(mutex, attributes);
}
