#!/usr/bin/env bash
# Checks of the static probes and of the gdb extension.
#
#   checkGdb.sh probes READELF LIBRARY
#       readelf lists every probe of provider vidazohx in LIBRARY.
#   checkGdb.sh gdb HOST LIBDIR WORKDIR [--emulator EMULATOR... --] [GDB-OPTION...]
#       runs HOST (tests/gdb/stateHost.c) under gdb with LIBDIR first on the
#       library path: it stops at the session_closed probe and reads its
#       arguments; at the host's known state `vidazohx sessions` and
#       `vidazohx waiters` name that state, live and from a core written
#       there. The GDB-OPTIONs load the extension (a `source`, or the
#       auto-load settings of an unpacked package) and find the debug
#       information. With an emulator (qemu-arm -L SYSROOT), gdb-multiarch
#       debugs HOST through the emulator's gdb stub, live only: gdb cannot
#       relocate the program in a core written through the stub. Exit 77
#       (skipped) where gdb cannot debug a process.
set -euo pipefail

probes=(session_opened session_closed close_put_off region_acquired region_given_back turn_wait_begin turn_wait_end
        elements_wait_begin elements_wait_end close_wait_begin close_wait_end)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [[ $1 == probes ]]; then
  notes=$("$2" -n "$3")
  for probe in "${probes[@]}"; do
    grep -A1 'Provider: vidazohx' <<<"$notes" | grep -qx " *Name: $probe" || fail "no probe vidazohx:$probe in $3"
  done
  echo "probes listed: $(grep -c 'Provider: vidazohx' <<<"$notes") sites of ${#probes[@]} probes"
  exit $((failures != 0))
fi

[[ $1 == gdb ]] || { echo "usage: see the head of $0" >&2; exit 2; }
host=$2 libdir=$3 work=$4
shift 4
emulator=()
if [[ ${1:-} == --emulator ]]; then
  shift
  while [[ $1 != -- ]]; do emulator+=("$1"); shift; done
  shift
fi
gdb=gdb
((${#emulator[@]} == 0)) || gdb="gdb-multiarch"
command -v $gdb >/dev/null || { echo "SKIP: $gdb is not installed"; exit 77; }
if ((${#emulator[@]} == 0)) && gdb -q -batch -ex run /bin/true 2>&1 | grep -qiE 'ptrace|not permitted'; then
  echo "SKIP: gdb cannot trace a process here (ptrace refused)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
export LD_LIBRARY_PATH=$libdir
run_gdb() { timeout 120 $gdb -q -nx -batch -iex 'set pagination off' "$@" 2>&1 | tee -a "$work/gdb.log"; }
# start: the gdb options that start the host and stop it at its first
# breakpoint. Through an emulator, the host waits for gdb on a port of its
# own; gdb retries the connection until the emulator listens.
start_host() {
  if ((${#emulator[@]} == 0)); then
    start=(-ex run)
    return
  fi
  local port=$((20000 + RANDOM % 20000)) sysroot
  sysroot=$(sed -n 's/.*-L \([^ ]*\).*/\1/p' <<<"${emulator[*]}")
  "${emulator[@]}" -g $port -E LD_LIBRARY_PATH="$libdir" "$host" >>"$work/host.log" 2>&1 &
  start=(-ex "set sysroot ${sysroot:-/}" -ex "set solib-search-path $libdir" -ex "target remote :$port" -ex continue)
}
expect() {  # expect OUTPUT WHAT REGEX
  grep -qE "$3" <<<"$1" || fail "$2: no line matching '$3'"
}

# The last release finishes the child's put-off close (session 2,
# generation 2, attribute 1, reason 3), which finishes the parent's
# (session 1, generation 1, reason 4: a pending parent).
start_host
# shellcheck disable=SC2016 # $_probe_arg0... are gdb's, not the shell's
out=$(run_gdb "$@" -ex 'break main' "${start[@]}" -ex 'break -probe-stap vidazohx:session_closed' -ex continue \
  -ex 'printf "closed %u %u %u %u\n", $_probe_arg0, $_probe_arg1, $_probe_arg2, $_probe_arg3' -ex continue \
  -ex 'printf "closed %u %u %u %u\n", $_probe_arg0, $_probe_arg1, $_probe_arg2, $_probe_arg3' -ex kill "$host")
expect "$out" "first session_closed probe" '^closed 2 2 1 3$'
expect "$out" "second session_closed probe" '^closed 1 1 1 4$'

# What the host's state must show, once live and once from its core.
check_state() {  # check_state OUTPUT WHERE
  local out=$1 where=$2 waiter
  expect "$out" "$where: parent" '^session 1: generation 1, parent none, children \[2\]; close waits for its children$'
  expect "$out" "$where: child" '^session 2: generation 2, parent 1, children \[\]; close put off \(regions out\)$'
  expect "$out" "$where: region out" '^    region 1 \(acquisition order\): [0-9]+ element\(s\), lent to the host$'
  waiter=$(sed -n 's/^\(thread [0-9]* (LWP [0-9]*)\): waits for the turn of session 2 FIFO 15 .*/\1/p' <<<"$out")
  [[ -n $waiter ]] || fail "$where: no thread waits for the turn of session 2 FIFO 15"
  expect "$out" "$where: FIFO" "^  FIFO 15: 1 region\(s\) out; acquireMutex held by ${waiter//[()]/.}; regionMutex free; acquireEvent not signalled, 1 waiting$"
  expect "$out" "$where: close waiting for the acquisition" \
    "^(thread [0-9]+ \(LWP [0-9]+\)): waits for acquireMutex of session 2 FIFO 15, held by ${waiter//[()]/.} "
  expect "$out" "$where: registry-wide wait" "waits for registryLock, held exclusively by thread [0-9]+"
  expect "$out" "$where: closes in flight" '^closes in flight: none$'
}
start_host
out=$(run_gdb "$@" -ex 'break stateReached' "${start[@]}" -ex 'vidazohx sessions' -ex 'vidazohx waiters' \
  -ex "generate-core-file $work/core" -ex kill "$host")
check_state "$out" live
if ((${#emulator[@]})); then
  echo "core: not checked through the emulator"
else
  [[ -f $work/core ]] || fail "no core written"
  out=$(run_gdb "$@" -ex 'vidazohx sessions' -ex 'vidazohx waiters' "$host" "$work/core")
  check_state "$out" core
fi
rm -f "$work/core"

((failures == 0)) || { echo "$failures check(s) failed; gdb's output is in $work/gdb.log"; exit 1; }
echo "gdb checks passed"
