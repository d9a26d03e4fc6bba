// vosdbg.cpp: the debug-line classes and their default decoration.

#include "protons/debug/vosdbg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "protons/status/statusCodes.h"

namespace {

constexpr size_t kLineBufferSize = 512;
constexpr size_t kComponentWidth = 10;
constexpr size_t kFileWidth = 32;
constexpr size_t kLineNumberWidth = 4;

const char* textOrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Bounded append: with room for n bytes copies at most n - 1 characters and
// a NUL, returning the NUL's position. With no room it ends the text on the
// last character already written.
char* appendBounded(char* cursor, char* bufferEnd, const char* text) {
  if (cursor >= bufferEnd) {
    cursor[-1] = '\0';
    return cursor - 1;
  }
  const size_t room = static_cast<size_t>(bufferEnd - cursor);
  const size_t length = strnlen(text, room - 1);
  std::memcpy(cursor, text, length);
  cursor[length] = '\0';
  return cursor + length;
}

// Right-aligns `text` in `width` columns. A longer text keeps its tail, which
// is the informative end of both paths and numbers. Pads come first; if they
// alone fill the room, the last one gives way to the NUL.
char* appendRightAligned(char* cursor, char* bufferEnd, const char* text, size_t width, char pad) {
  size_t length = std::strlen(text);
  if (length > width) {
    text += length - width;
    length = width;
  }
  const size_t padCount = width - length;
  const size_t room = cursor < bufferEnd ? static_cast<size_t>(bufferEnd - cursor) : 0;
  if (padCount >= room) {
    if (room == 0) return appendBounded(cursor, bufferEnd, "");
    std::memset(cursor, pad, room - 1);
    cursor[room - 1] = '\0';
    return cursor + room - 1;
  }
  std::memset(cursor, pad, padCount);
  return appendBounded(cursor + padCount, bufferEnd, text);
}

char* writeOpenBracket(const vosdbg_VarLine&, char* cursor, char* end) { return appendBounded(cursor, end, "["); }

char* writeComponent(const vosdbg_VarLine&, char* cursor, char* end) {
  return appendRightAligned(cursor, end, kComponentName, kComponentWidth, ' ');
}

char* writeBar(const vosdbg_VarLine&, char* cursor, char* end) { return appendBounded(cursor, end, "|"); }

char* writeFile(const vosdbg_VarLine& line, char* cursor, char* end) {
  return appendRightAligned(cursor, end, textOrEmpty(line.location().file), kFileWidth, ' ');
}

char* writeLineNumber(const vosdbg_VarLine& line, char* cursor, char* end) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%d", static_cast<int>(line.location().line));  // NOLINT(cert-err33-c): 16 bytes hold any int
  return appendRightAligned(cursor, end, digits, kLineNumberWidth, '0');
}

char* writeCloseBracket(const vosdbg_VarLine&, char* cursor, char* end) { return appendBounded(cursor, end, "] "); }

}  // namespace

const tVarLineDecorator vosdbgDefaultDecorations[] = {
    writeOpenBracket, writeComponent, writeBar, writeFile, writeBar, writeLineNumber, writeCloseBracket, nullptr};
const tVarLineDecorator* vosdbgDecorations = vosdbgDefaultDecorations;

// ---------------------------------------------------------------------------
// vosdbg_VarLine
// ---------------------------------------------------------------------------

vosdbg_VarLine::vosdbg_VarLine(const char* file, int32_t line, const char* lineTerminator)
    : location_{file, line, lineTerminator} {}

vosdbg_VarLine::vosdbg_VarLine(const tSourceLocation& location) : location_(location) {}

// Out of line on purpose: the key function, so the vtable and the exported
// type information are emitted here.
vosdbg_VarLine::~vosdbg_VarLine() {}

// NOLINTNEXTLINE(cert-dcl50-cpp): the debug-line interface is printf-style by definition
void vosdbg_VarLine::print(const char* format, ...) {
  char buffer[kLineBufferSize];
  char* const bufferEnd = buffer + kLineBufferSize;
  buffer[0] = '\0';

  char* cursor = buffer;
  for (const tVarLineDecorator* writer = vosdbgDecorations; writer != nullptr && *writer != nullptr; ++writer) {
    cursor = (*writer)(*this, cursor, bufferEnd);
  }

  const size_t room = static_cast<size_t>(bufferEnd - cursor);
  va_list arguments;
  va_start(arguments, format);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_start is just above (analyser false positive)
  const int formatted = std::vsnprintf(cursor, room, format, arguments);
  va_end(arguments);
  char* messageEnd = cursor + std::min(static_cast<size_t>(std::max(formatted, 0)), room - 1);
  *messageEnd = '\0';

  // Cut so the terminator still fits. A terminator too long for the buffer
  // cuts everything rather than reaching before the buffer's start.
  const char* terminator = textOrEmpty(location_.lineTerminator);
  const size_t terminatorLength = strnlen(terminator, kLineBufferSize - 1);
  char* const cut = buffer + (kLineBufferSize - 1 - terminatorLength);
  if (messageEnd > cut) {
    messageEnd = cut;
    *messageEnd = '\0';
  }
  appendBounded(messageEnd, bufferEnd, terminator);

  tDebugOutputHook hook = debugOutputHook;
  if (hook != nullptr) hook(buffer);
}

// ---------------------------------------------------------------------------
// vosdbg_VarLineToBuffer
// ---------------------------------------------------------------------------

vosdbg_VarLineToBuffer::vosdbg_VarLineToBuffer(const char* file, int32_t line, char* buffer, uint32_t capacity,
                                               const char* lineTerminator)
    : vosdbg_VarLine(file, line, lineTerminator), buffer_(buffer), capacity_(capacity) {}

vosdbg_VarLineToBuffer::~vosdbg_VarLineToBuffer() {}

// NOLINTNEXTLINE(cert-dcl50-cpp): the debug-line interface is printf-style by definition
void vosdbg_VarLineToBuffer::print(const char* format, ...) {
  // A zero capacity would put the terminating NUL one byte before the buffer.
  if (buffer_ == nullptr || capacity_ == 0) return;
  va_list arguments;
  va_start(arguments, format);
  // NOLINTNEXTLINE(cert-err33-c,clang-analyzer-valist.Uninitialized): truncation is silent by design; va_start is just above (analyser false positive)
  std::vsnprintf(buffer_, capacity_, format, arguments);
  va_end(arguments);
  buffer_[capacity_ - 1] = '\0';
}
