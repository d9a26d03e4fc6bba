// -----------------------------------------------------------------------------
// File: probes.h
// -----------------------------------------------------------------------------
//
// Static probes (USDT, provider "vidazohx") at the library's own events, for
// gdb, perf, bpftrace and SystemTap. docs/diagnosing.md lists every probe
// and its arguments.
//
// With no tracer attached a probe is one no-op instruction; its arguments
// are only named to the tracer (register, memory or constant operands in the
// probe's ELF note), so they cost an instruction only where the compiler
// must move a value somewhere it would not otherwise keep it. Arguments are
// integers only: a tracer reads them without the library's types.
//
// A build without <sys/sdt.h> (CMake found none) compiles every probe to
// nothing: its arguments go to an empty inline function, so that they count
// as used and cost nothing. Pass plain values, never an expression with an
// effect.
//
// A probe reported from several paths is best given one site, in a function
// of its own marked VIDAZOHX_ONE_PROBE_SITE (never inlined or cloned): some
// tracers (perf among them) attach to the first site of a name only.
#pragma once

#if VIDAZOHX_HAVE_SDT
#define SDT_USE_VARIADIC 1
#include <sys/sdt.h>
#define VIDAZOHX_PROBE(name, ...) STAP_PROBEV(vidazohx, name, __VA_ARGS__)
#else
template <typename... Arguments>
inline void vidazohxNoProbe(const Arguments&... /*unused*/) {}
#define VIDAZOHX_PROBE(name, ...) vidazohxNoProbe(__VA_ARGS__)
#endif

#if defined(__clang__)
#define VIDAZOHX_ONE_PROBE_SITE __attribute__((noinline))
#else
#define VIDAZOHX_ONE_PROBE_SITE __attribute__((noipa))
#endif
