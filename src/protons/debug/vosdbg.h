// vosdbg.h: debug-line classes. vosdbg_VarLine writes one decorated line
// ("[  ViDazoHx|<file, 32 columns>|<line, 4 digits>] message\n") through the
// debug output hook; vosdbg_VarLineToBuffer formats into a caller's buffer.
//
// The run-time type information of both classes is part of the library's
// exported interface, so both carry default visibility and each has its key
// function (the destructor) defined out of line, which makes vosdbg.cpp the
// one place their vtables and type information are emitted.
#pragma once

#include <cstdint>

#include "protons/debug/debugOutput.h"

#define VOSDBG_EXPORT __attribute__((visibility("default")))

class vosdbg_VarLine;

// A prefix writer of the decoration list: appends to the text ending at
// `cursor` (which points at its NUL) within `bufferEnd`, and returns the
// position of the NUL it leaves. It never writes at or past `bufferEnd`.
typedef char* (*tVarLineDecorator)(const vosdbg_VarLine& line, char* cursor, char* bufferEnd);

// The ordered, null-ended list of writers vosdbg_VarLine::print runs before
// the message. Replaceable like the output hooks; not changed while the
// library runs. vosdbgDefaultDecorations is what it points at initially.
extern const tVarLineDecorator* vosdbgDecorations;
extern const tVarLineDecorator vosdbgDefaultDecorations[];

class VOSDBG_EXPORT vosdbg_VarLine {
 public:
  vosdbg_VarLine(const char* file, int32_t line, const char* lineTerminator = "\n");
  explicit vosdbg_VarLine(const tSourceLocation& location);
  virtual ~vosdbg_VarLine();

  // vosdbg_VarLine::print(): builds the decorated line in a 512-byte stack
  // buffer and hands it to the output hook. Does not block beyond the hook.
  // The message is cut, never the terminator.
  virtual void print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const tSourceLocation& location() const { return location_; }

 private:
  tSourceLocation location_;
};

class VOSDBG_EXPORT vosdbg_VarLineToBuffer : public vosdbg_VarLine {
 public:
  // `buffer` of `capacity` bytes is the caller's and must outlive the object.
  vosdbg_VarLineToBuffer(const char* file, int32_t line, char* buffer, uint32_t capacity,
                         const char* lineTerminator = "\n");
  ~vosdbg_VarLineToBuffer() override;

  // vosdbg_VarLineToBuffer::print(): formats into the buffer only, cut to
  // capacity - 1 characters and always NUL-terminated; no decoration, no
  // output hook. A null buffer or zero capacity writes nothing.
  void print(const char* format, ...) override __attribute__((format(printf, 2, 3)));

 private:
  char* buffer_;
  uint32_t capacity_;
};
