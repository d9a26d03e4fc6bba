// -----------------------------------------------------------------------------
// File: protons/trace/trace.h
// -----------------------------------------------------------------------------
//
// The call trace a field engineer switches on from the environment, and the
// line writer under it.
//
//   VIDAZOHX_TRACE       unset or 0: off; errors, calls or all
//   VIDAZOHX_TRACE_FILE  a file to append to; else a duplicate of standard
//                        error taken at load
//
// Both are read once, at load, with secure_getenv (a set-uid or
// set-capability host ignores them). An unknown level or a file that cannot
// be opened gives one line on standard error and leaves the trace off; the
// load goes on either way.
//
// Safe inside someone else's process: a line is formatted into a stack
// buffer and written whole with one write(2), so lines of concurrent threads
// (and of a forked child) never mix. Nothing is allocated, no lock is taken,
// no thread-local storage is used, errno is preserved and write errors are
// ignored. Before each write the descriptor is checked (fstat, device and
// inode) against the file it was at load: a host that closed it and got the
// number back for a file or socket of its own gets no trace lines; the trace
// turns itself off instead. Callers never write while holding a library
// lock: they gather their fields under the lock and write after.
//
// Off, the trace costs every export one load of traceLevel and a branch
// that is not taken.
#pragma once

#include <cstddef>
#include <cstdint>

enum class tTraceLevel : uint8_t { off = 0, errors = 1, calls = 2, all = 3 };

// Written only at load, before the library's functions can be called, and
// at unload, after they may no longer be: a plain byte, so that the check
// of every export is one compare with memory. (A trace whose descriptor was
// taken over turns itself off elsewhere, in trace.cpp.) Signed, and tested
// with "> 0": on Thumb-2, GCC 12 tests a byte for non-zero with cbnz, which
// wants a low register and costs the forwarding exports a push and a pop of
// r4 around their tail call; a signed compare keeps it in ip.
extern int8_t traceLevel __attribute__((visibility("hidden")));

inline bool traceIsOn() noexcept { return __builtin_expect(traceLevel > 0, 0); }
inline bool traceAt(tTraceLevel level) noexcept {
  return __builtin_expect(traceLevel >= static_cast<int8_t>(level), 0);
}

// One field value of a trace line: an input, printed on every line of the
// call, or an output (the address the call writes to), printed only on a
// return line of a call that did not fail.
struct tTraceValue {
  enum tNone { none };
  int64_t value;
  const uint32_t* output;  // may be null: the host passed none
  bool isOutput;
  bool shown = true;
  // NOLINTBEGIN(google-explicit-constructor): values are listed as the call's own arguments
  tTraceValue(uint32_t input) : value(input), output(nullptr), isOutput(false) {}
  tTraceValue(int32_t input) : value(input), output(nullptr), isOutput(false) {}
  tTraceValue(int64_t input) : value(input), output(nullptr), isOutput(false) {}
  tTraceValue(const uint32_t* out) : value(0), output(out), isOutput(true) {}
  explicit tTraceValue(tNone) : value(0), output(nullptr), isOutput(false), shown(false) {}
  // NOLINTEND(google-explicit-constructor)
};

// The longest line, terminator included: below PIPE_BUF, so that a write to
// a pipe is never split.
constexpr size_t kTraceLineMax = 512;

// tTraceLine: one line under construction, on the caller's stack.
//
//   ViDazoHx <monotonic ns> <pid> <tid> <kind> <name> key=value ...
//
// `keys` names the values in order, separated by blanks ("-": a value not
// shown); a key may carry a
// format after a colon: ":x" hexadecimal, ":t" a timeout (0xFFFFFFFF is
// written "infinite"), ":s" a status (its value, then its name after a
// colon where the library knows it). A line that would not fit is cut and
// still ends in a line break.
class tTraceLine {
 public:
  tTraceLine(const char* kind, const char* name);
  tTraceLine(const tTraceLine&) = delete;
  tTraceLine& operator=(const tTraceLine&) = delete;

  // fields(): appends `count` values named by `keys`; outputs only when
  // `returning` and `status` is not an error.
  void fields(const char* keys, const tTraceValue* values, size_t count, bool returning = false,
              int32_t status = 0);
  void status(int32_t status);
  void duration(int64_t nanoseconds);
  // write(): ends the line and writes it. Never blocks on anything but the
  // write itself; preserves errno.
  void write();

 private:
  void append(const char* text, size_t length);
  void appendText(const char* text);
  void appendUnsigned(uint64_t value, unsigned base);
  void appendSigned(int64_t value);
  void appendValue(const char* format, size_t formatLength, int64_t value);

  char text_[kTraceLineMax];
  size_t length_;
};

// traceEvent(): one event line of the library's own, at level `all`; the
// caller has checked the level.
void traceEvent(const char* name, const char* keys, const tTraceValue* values, size_t count);

// traceSetUp(), traceTearDown(): at load and unload (see trace.cpp). Exposed
// for the platform's tests, which call them with their own environment.
void traceSetUp();
void traceTearDown();
