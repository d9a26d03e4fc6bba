#!/bin/sh
# checkTrace.sh: runs hosts with the call trace at each level and checks what
# the lines must and must not say.
#
#   checkTrace.sh <example host> <trace host> [-- <emulator and its options>]
#
# POSIX sh and grep only, so that it runs wherever the library's tests run
# (a cross build passes its emulator after --).
set -u

example=$1
host=$2
shift 2
[ "${1:-}" = -- ] && shift
# What is left in "$@" is the emulator and its options, if any.

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
  echo "FAIL: $*"
  failed=1
}

# run <name> <level> <file or ""> <program> <arguments...>: runs with the
# trace set, keeping stdout and stderr as $work/<name>.out and .err.
run() {
  name=$1 level=$2 file=$3
  shift 3
  if [ -n "$file" ]; then
    VIDAZOHX_TRACE=$level VIDAZOHX_TRACE_FILE=$file "$@" >"$work/$name.out" 2>"$work/$name.err"
  else
    VIDAZOHX_TRACE=$level "$@" >"$work/$name.out" 2>"$work/$name.err"
  fi
  status=$?
  [ $status -eq 0 ] || fail "$name: exit status $status: $(cat "$work/$name.out" "$work/$name.err")"
}

# Patterns are extended regular expressions.
has() { grep -q -E -e "$2" "$1" || fail "$(basename "$1"): no line matching '$2'"; }
hasNot() { ! grep -q -E -e "$2" "$1" || fail "$(basename "$1"): a line matches '$2': $(grep -m1 -E -e "$2" "$1")"; }
lineOf() { grep -n -m1 -E -e "$2" "$1" | cut -d: -f1; }

# Every line whole: the prefix, a kind, a name and key=value fields only.
whole='^ViDazoHx [0-9]+ [0-9]+ [0-9]+ (enter|return|event) [A-Za-z0-9]+( [A-Za-z]+=[^ ]+)*$'

# errors: only calls that answered non-zero, each with its status name.
run errors errors "$work/errors.log" "$@" "$example"
has "$work/errors.log" ' return Download session=[0-9]* status=-61217:RegionsOutstanding ns=[0-9]*$'
has "$work/errors.log" ' return AcquireFifoReadRegionScalar .* status=-50400:FifoTimeout ns='
hasNot "$work/errors.log" 'status=0:Success'
hasNot "$work/errors.log" ' (enter|event) '

# calls: an entry line for calls that can block, a return line for every call.
run calls calls "$work/calls.log" "$@" "$example"
has "$work/calls.log" ' enter Open attribute=0$'
has "$work/calls.log" ' enter WaitOnIrqs session=[0-9]* irqMask=0x8 timeout=1000$'
has "$work/calls.log" ' return Read32 session=[0-9]* offset=0x100 status=0:Success ns=[0-9]*$'
hasNot "$work/calls.log" ' (enter Read32|event) '
[ "$(grep -c ' enter Close ' "$work/calls.log")" = 1 ] || fail "calls.log: not one entry line of Close"

# all: a close put off by a lent region, finished by the region's release.
run putOff all "$work/putOff.log" "$@" "$host" putOff
log=$work/putOff.log
has "$log" ' event closePutOff session=[0-9]* attribute=0$'
has "$log" ' return Read32 session=[0-9]* offset=0x0 status=-61499:SessionNotSupported ns='
putOffAt=$(lineOf "$log" ' return Close .*status=-61217:RegionsOutstanding')
givenBackAt=$(lineOf "$log" ' event regionsGivenBack session=[0-9]* fifo=6 regions=1 elements=16$')
finishedAt=$(lineOf "$log" ' event putOffCloseFinished session=[0-9]* status=0:Success$')
if [ -z "$putOffAt" ] || [ -z "$givenBackAt" ] || [ -z "$finishedAt" ] ||
   [ "$putOffAt" -ge "$givenBackAt" ] || [ "$givenBackAt" -ge "$finishedAt" ]; then
  fail "putOff.log: not a put-off close, then the give-back, then its finish: $(cat "$log")"
fi

# Concurrent threads, to standard error: every line whole, none lost.
run threads calls "" "$@" "$host" threads
grep -v -E -e "$whole" "$work/threads.err" >"$work/broken" && fail "threads: lines not whole: $(head -3 "$work/broken")"
[ "$(grep -c ' return Read32 .* offset=0x200 status=0:Success' "$work/threads.err")" = 800 ] ||
  fail "threads: not 800 Read32 lines"

# An unknown level and a file that cannot be opened: one line of
# explanation, the trace off, the host unharmed.
run badLevel verbose "" "$@" "$example"
run badFile calls "$work/no/such/dir/trace.log" "$@" "$example"
for name in badLevel badFile; do
  [ "$(wc -l <"$work/$name.err")" -eq 1 ] || fail "$name: not one line on standard error: $(cat "$work/$name.err")"
  has "$work/$name.out" '^c host: done$'
done
has "$work/badLevel.err" '^ViDazoHx: VIDAZOHX_TRACE=verbose is not a trace level \(0, errors, calls or all\); the trace stays off$'
has "$work/badFile.err" '^ViDazoHx: cannot open trace file VIDAZOHX_TRACE_FILE=.*/no/such/dir/trace\.log \(No such file or directory\); the trace stays off$'

# A host that closes descriptor 2 and opens a file of its own there: the
# trace goes on to the standard error it duplicated at load.
run stderrTaken calls "" "$@" "$host" takeFd 2 "$work/own2.txt"
hasNot "$work/own2.txt" 'ViDazoHx'
has "$work/stderrTaken.err" ' return Write32 session=[0-9]* offset=0x200 status=0:Success'

# A host that closes the trace file's descriptor and opens a file of its own
# on that number: no line reaches that file, and the trace stops.
run fileTaken calls "$work/taken.log" "$@" "$host" takeFd "$work/taken.log" "$work/own.txt"
hasNot "$work/own.txt" 'ViDazoHx'
has "$work/taken.log" ' return StartFifo '
hasNot "$work/taken.log" 'offset=0x200'

[ $failed -eq 0 ] && echo "trace checks passed"
exit $failed
