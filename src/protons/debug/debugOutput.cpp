// debugOutput.cpp: printf-style debug output through a replaceable hook and
// the assertion path that halts the process.

#include "protons/debug/debugOutput.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kDebugBufferSize = 512;

int writeToStandardError(const char* text) { return std::fputs(text, stderr); }

// trapInstruction(): the architecture's breakpoint, where a debugger
// attached to the host gets control at the failing call. Without one,
// SIGTRAP's action decides what happens next.
//
// On 32-bit ARM this is not bkpt: where the core's debug architecture is
// absent, unsupported or locked (common on production SoCs), the kernel
// takes a user-mode bkpt as a prefetch abort and sends SIGBUS, with the
// program counter left on the bkpt, so a host's returning SIGBUS handler
// would run it for ever. The undefined instructions below are the ones the
// Linux ARM kernel reserves for breakpoints; it reports them as SIGTRAP on
// every core. The compiler may emit either instruction set, so both.
void trapInstruction() {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("int3");
#elif defined(__arm__) && defined(__thumb__)
  __asm__ volatile(".inst.n 0xde01");
#elif defined(__arm__)
  __asm__ volatile(".inst 0xe7f001f0");
#elif defined(__aarch64__)
  __asm__ volatile("brk #0");
#endif
  // Some architectures have no instruction above, and emulators differ in
  // how they report one: the explicit signal makes sure.
  std::raise(SIGTRAP);  // NOLINT(cert-err33-c): abort() follows whatever raise() returns
}

// Stops the process. The host may have a SIGTRAP handler of its own, or
// SIGTRAP blocked: a handler that returns lets x86 go on after the int3 as
// if the module had loaded, and loops for ever on ARM, where the trap leaves
// the program counter on itself. So SIGTRAP gets its default action and is
// unblocked first, and abort() ends the process if the trap still returns
// (a debugger that continues past it, say).
void breakIntoDebugger(const tSourceLocation&, const char*) {
  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigaction(SIGTRAP, &defaultAction, nullptr);
  sigset_t trapOnly;
  sigemptyset(&trapOnly);
  sigaddset(&trapOnly, SIGTRAP);
  pthread_sigmask(SIG_UNBLOCK, &trapOnly, nullptr);
  trapInstruction();
  std::abort();
}

}  // namespace

tDebugOutputHook debugOutputHook = writeToStandardError;
tAssertionFailureHook assertionFailureHook = breakIntoDebugger;

// debugPrint()
// Formats into its own stack buffer, so concurrent prints share no memory.
// Text beyond 511 characters is dropped. Returns the hook's result (0 when
// no hook is installed).
// NOLINTNEXTLINE(cert-dcl50-cpp): debug output is printf-style by definition
int debugPrint(const char* format, ...) {
  char buffer[kDebugBufferSize];
  va_list arguments;
  va_start(arguments, format);
  // NOLINTNEXTLINE(cert-err33-c,clang-analyzer-valist.Uninitialized): output is best effort, its results are not examined by design; va_start is just above (analyser false positive)
  std::vsnprintf(buffer, sizeof(buffer), format, arguments);
  va_end(arguments);
  buffer[kDebugBufferSize - 1] = '\0';
  tDebugOutputHook hook = debugOutputHook;
  return hook != nullptr ? hook(buffer) : 0;
}

// assertionFailure()
// Prints the assertion line and the message, then hands over to the
// assertion-failure hook; with the default hook it does not return. The
// message is printed as text, never used as a format.
void assertionFailure(const char* component, const tSourceLocation& location, const char* message) {
  debugPrint("[%s|%s|%d] !!!ASSERT!!!\n", component, location.file, location.line);
  debugPrint("%s", message != nullptr ? message : "");
  tAssertionFailureHook hook = assertionFailureHook;
  if (hook != nullptr) hook(location, "ASSERT");
}
