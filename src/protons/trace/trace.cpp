// -----------------------------------------------------------------------------
// File: protons/trace/trace.cpp
// -----------------------------------------------------------------------------
//
// The trace's set-up at load and the line writer. See trace.h for what the
// trace promises a host; the reasons for each step are given where it is
// taken.

#include "protons/trace/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protons/status/statusCodes.h"
#include "protons/time/monotonicClock.h"

int8_t traceLevel = 0;

namespace {

// The descriptor and the file it designated at load. Atomic because a
// writer may read them while unload clears them; set before the level is.
std::atomic<int> traceDescriptor{-1};
// Set for good once the descriptor no longer designates that file.
std::atomic<bool> traceLost{false};
dev_t traceDevice = 0;
ino_t traceInode = 0;

// The duplicate of standard error avoids the three standard numbers, which
// a host that closed them before loading us would get back for its own use.
constexpr int kLowestDuplicate = 3;

// An explanation at load, on standard error itself: one line, written
// whole, best effort. `format` takes two texts.
void explain(const char* format, const char* detail, const char* reason) {
  char line[kTraceLineMax];
  const int length = std::snprintf(line, sizeof line, format, detail, reason);
  if (length <= 0) return;
  const size_t size = static_cast<size_t>(length) < sizeof line ? static_cast<size_t>(length) : sizeof line - 1;
  const ssize_t ignored = ::write(STDERR_FILENO, line, size);
  (void)ignored;
}

bool parseLevel(const char* text, tTraceLevel* level) {
  struct tName {
    const char* name;
    tTraceLevel level;
  };
  static constexpr tName kNames[] = {{"0", tTraceLevel::off},
                                     {"errors", tTraceLevel::errors},
                                     {"calls", tTraceLevel::calls},
                                     {"all", tTraceLevel::all}};
  for (const tName& entry : kNames) {
    if (std::strcmp(text, entry.name) == 0) {
      *level = entry.level;
      return true;
    }
  }
  return false;
}

// openDestination(): the named file, or a private duplicate of standard
// error; -1 (explained on standard error) when neither can be had.
int openDestination() {
  const char* path = secure_getenv("VIDAZOHX_TRACE_FILE");
  if (path != nullptr && path[0] != '\0') {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      char reason[128];
      explain("ViDazoHx: cannot open trace file VIDAZOHX_TRACE_FILE=%.300s (%s); the trace stays off\n", path,
              strerror_r(errno, reason, sizeof reason));  // the GNU strerror_r: it returns the text
    }
    return fd;
  }
  // No explanation when standard error is closed: there is nowhere to say it.
  return ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, kLowestDuplicate);
}

// stillOurs(): whether the descriptor still designates the file it did at
// load. A host may close it and open something of its own on the number.
bool stillOurs(int fd) {
  struct stat now {};
  return ::fstat(fd, &now) == 0 && now.st_dev == traceDevice && now.st_ino == traceInode;
}

// Process and kernel thread ids for the prefix; no cache, since a cache
// would go stale in a forked child (and be thread-local storage).
int64_t processId() { return static_cast<int64_t>(::getpid()); }
int64_t threadId() { return static_cast<int64_t>(::syscall(SYS_gettid)); }

}  // namespace

// traceSetUp()
// Runs once at load, before the library's other objects are built, so that
// every call and event after it can be traced. Never fails the load.
void traceSetUp() {
  const char* text = secure_getenv("VIDAZOHX_TRACE");
  if (text == nullptr || text[0] == '\0') return;
  tTraceLevel level = tTraceLevel::off;
  if (!parseLevel(text, &level)) {
    explain("ViDazoHx: VIDAZOHX_TRACE=%.64s is not a trace level (%s); the trace stays off\n", text,
            "0, errors, calls or all");
    return;
  }
  if (level == tTraceLevel::off) return;
  const int fd = openDestination();
  if (fd < 0) return;
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) {
    ::close(fd);
    return;
  }
  traceDevice = opened.st_dev;
  traceInode = opened.st_ino;
  traceDescriptor.store(fd, std::memory_order_relaxed);
  traceLevel = static_cast<int8_t>(level);
}

// traceTearDown()
// At unload: the trace goes off first, so that no writer picks up a
// descriptor that is about to be closed and perhaps handed out again.
void traceTearDown() {
  traceLevel = 0;
  const int fd = traceDescriptor.exchange(-1, std::memory_order_relaxed);
  if (fd >= 0) ::close(fd);
}

namespace {

// Set-up before the session registry (150) and the module entry (200), so
// that the trace is ready before any of the library's code can run, and
// torn down after both.
struct tTraceModule {
  tTraceModule() noexcept { traceSetUp(); }
  ~tTraceModule() { traceTearDown(); }
  tTraceModule(const tTraceModule&) = delete;
  tTraceModule& operator=(const tTraceModule&) = delete;
};
tTraceModule traceModule __attribute__((init_priority(101)));

}  // namespace

// ---- lines ---------------------------------------------------------------

tTraceLine::tTraceLine(const char* kind, const char* name) : text_(), length_(0) {
  appendText("ViDazoHx ");
  appendSigned(monotonicNanoseconds());
  appendText(" ");
  appendSigned(processId());
  appendText(" ");
  appendSigned(threadId());
  appendText(" ");
  appendText(kind);
  appendText(" ");
  appendText(name);
}

void tTraceLine::append(const char* text, size_t length) {
  const size_t room = kTraceLineMax - 1 - length_;  // the last byte is kept for the line break
  const size_t taken = length < room ? length : room;
  std::memcpy(text_ + length_, text, taken);
  length_ += taken;
}

void tTraceLine::appendText(const char* text) { append(text, std::strlen(text)); }

void tTraceLine::appendUnsigned(uint64_t value, unsigned base) {
  char digits[24];
  size_t start = sizeof digits;
  do {
    digits[--start] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  append(digits + start, sizeof digits - start);
}

void tTraceLine::appendSigned(int64_t value) {
  if (value < 0) {
    appendText("-");
    appendUnsigned(0 - static_cast<uint64_t>(value), 10);
    return;
  }
  appendUnsigned(static_cast<uint64_t>(value), 10);
}

void tTraceLine::appendValue(const char* format, size_t formatLength, int64_t value) {
  const char kind = formatLength == 2 ? format[1] : '\0';  // format is ":x", ":t", ":s" or empty
  if (kind == 'x') {
    appendText("0x");
    appendUnsigned(static_cast<uint32_t>(value), 16);
  } else if (kind == 't' && static_cast<uint32_t>(value) == 0xFFFFFFFFu) {
    appendText("infinite");
  } else if (kind == 's') {
    appendSigned(value);
    const char* name = knownStatusName(static_cast<int32_t>(value));
    if (name != nullptr) {
      appendText(":");
      appendText(name);
    }
  } else {
    appendSigned(value);
  }
}

void tTraceLine::fields(const char* keys, const tTraceValue* values, size_t count, bool returning,
                        int32_t status) {
  const char* key = keys;
  for (size_t i = 0; i < count && *key != '\0'; ++i) {
    const char* end = key;
    while (*end != '\0' && *end != ' ') ++end;
    const char* format = key;
    while (format < end && *format != ':') ++format;
    const tTraceValue& value = values[i];
    const bool named = !(end - key == 1 && *key == '-');
    const bool shown = named && value.shown && (!value.isOutput || (returning && status >= 0 && value.output != nullptr));
    if (shown) {
      appendText(" ");
      append(key, static_cast<size_t>(format - key));
      appendText("=");
      appendValue(format, static_cast<size_t>(end - format), value.isOutput ? *value.output : value.value);
    }
    key = *end == ' ' ? end + 1 : end;
  }
}

void tTraceLine::status(int32_t status) {
  const tTraceValue value(status);
  fields("status:s", &value, 1);
}

void tTraceLine::duration(int64_t nanoseconds) {
  appendText(" ns=");
  appendSigned(nanoseconds);
}

// tTraceLine::write()
// One write(2) of the whole line, after checking that the descriptor is
// still the trace's. A failed or short write is not retried: the trace
// must not hold the host up, and a partial line is not worth a second one.
void tTraceLine::write() {
  const int savedErrno = errno;
  text_[length_++] = '\n';
  const int fd = traceDescriptor.load(std::memory_order_relaxed);
  if (fd < 0 || traceLost.load(std::memory_order_relaxed) || !stillOurs(fd)) {
    traceLost.store(true, std::memory_order_relaxed);
  } else {
    const ssize_t ignored = ::write(fd, text_, length_);
    (void)ignored;
  }
  errno = savedErrno;
}

void traceEvent(const char* name, const char* keys, const tTraceValue* values, size_t count) {
  tTraceLine line("event", name);
  line.fields(keys, values, count);
  line.write();
}
