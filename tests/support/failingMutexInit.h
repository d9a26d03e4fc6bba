// failingMutexInit.h: makes the library's mutex creation fail from outside.
// Programs that link failingMutexInit.cpp are linked with
// -Wl,--wrap=pthread_mutex_init, so only the objects linked into the program
// are affected; the stand-ins, being shared libraries, create theirs as usual.
#pragma once

namespace testsupport {

// While set, a priority-inheriting mutex is refused with ENOTSUP, as on a
// kernel without priority-inheritance futexes.
void refusePriorityInheritance(bool refuse);
// The `nth` mutex creation from now fails with `error` (0: disarm).
void failMutexCreation(int nth, int error);
// Whether the armed failure has not happened yet; disarms it.
bool disarmMutexCreationFailure();

}  // namespace testsupport
