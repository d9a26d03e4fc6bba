// debugOutput.cpp: printf-style debug output through a replaceable hook and
// the assertion path that halts the process.

#include "protons/debug/debugOutput.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kDebugBufferSize = 512;

int writeToStandardError(const char* text) { return std::fputs(text, stderr); }

// Stops the process on a breakpoint, where a debugger attached to the host
// gets control at the failing call. Without a debugger the trap ends the
// process with SIGTRAP.
void breakIntoDebugger(const tSourceLocation&, const char*) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("int3");
#elif defined(__arm__)
  // Whether a user-mode bkpt reaches the process as SIGTRAP depends on the
  // kernel configuration and on emulation; the explicit signal and the abort
  // behind it make sure that nothing after a failed assertion runs as if the
  // library had loaded.
  __asm__ volatile("bkpt #0");
  std::raise(SIGTRAP);
  std::abort();
#elif defined(__aarch64__)
  __asm__ volatile("brk #0");
#else
  std::raise(SIGTRAP);
#endif
}

}  // namespace

tDebugOutputHook debugOutputHook = writeToStandardError;
tAssertionFailureHook assertionFailureHook = breakIntoDebugger;

// debugPrint()
// Formats into its own stack buffer, so concurrent prints share no memory.
// Text beyond 511 characters is dropped. Returns the hook's result (0 when
// no hook is installed).
int debugPrint(const char* format, ...) {
  char buffer[kDebugBufferSize];
  va_list arguments;
  va_start(arguments, format);
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
