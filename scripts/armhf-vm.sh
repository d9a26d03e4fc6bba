#!/usr/bin/env bash
# armhf-vm.sh: runs the armhf test suite on a real ARM kernel, Debian's
# PREEMPT_RT armhf kernel booted in qemu-system-arm, where futexes with
# priority inheritance, trap delivery, the time64 system calls, the vDSO
# clock and the scheduler are an ARM kernel's and not the build machine's
# (the armhf preset's own suite runs under qemu-arm, which hands every system
# call to the host).
#
#   scripts/armhf-vm.sh [--machine virt|a9|all] [--only <regex>]
#
#   --machine  which machines boot (default: all)
#   --only     runs only the tests whose CTest names match the
#              (Python) regular expression: a quick look at one area
#
#   virt  qemu's virt board with a Cortex-A15 (hardware debug support)
#   a9    qemu's Versatile Express board with a Cortex-A9, whose debug
#         architecture the kernel does not support, as on many production
#         SoCs
#
# Needs the armhf build (cmake --preset armhf && cmake --build --preset
# armhf) and what scripts/install-deps.sh installs. The kernel and busybox
# packages for armhf are downloaded and unpacked into build/armhf/vm, never
# installed. The test list is CTest's (the armhf test preset); each test
# program runs once with the cases it lists. Prints "N passed, M failed" per
# machine and exits non-zero on any failure, on a missing test, when no test
# ran, or when a machine does not finish within its time limit; the tail of
# its console is shown then.
set -euo pipefail

machines=all
only=
while (($# > 0)); do
  case $1 in
    --machine) machines=${2:-}; shift 2 ;;
    --machine=*) machines=${1#*=}; shift ;;
    --only) only=${2:-}; shift 2 ;;
    *) echo "usage: armhf-vm.sh [--machine virt|a9|all] [--only <regex>]" >&2; exit 2 ;;
  esac
done
case $machines in
  virt | a9) ;;
  all) machines="virt a9" ;;
  *) echo "armhf-vm: unknown machine '$machines' (virt, a9 or all)" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
source_dir=$PWD
build_dir=$source_dir/build/armhf
cache=$build_dir/vm
# A machine boots in 4-17 s and runs the suite in about a minute, but up to
# 3½ minutes on a busy build machine (one event ping-pong case waits on the
# host's scheduling of the emulated cores); one still running after this is
# hung.
time_limit=${ARMHF_VM_TIME_LIMIT:-300}

[[ -f $build_dir/CTestTestfile.cmake ]] || {
  echo "armhf-vm: no armhf build in $build_dir (cmake --preset armhf && cmake --build --preset armhf)" >&2
  exit 1
}
mkdir -p "$cache"

# unpack_package <package>: downloads an armhf package once and unpacks it
# into $cache/root; the name resolves at run time, so security updates of
# the versioned kernel package are followed.
unpack_package() {
  local package=$1 deb
  deb=$(cd "$cache" && ls -- "${package}"_*_armhf.deb 2>/dev/null | tail -n 1 || true)
  if [[ -z $deb ]]; then
    (cd "$cache" && apt-get download -q "${package}:armhf" >/dev/null)
    deb=$(cd "$cache" && ls -- "${package}"_*_armhf.deb | tail -n 1)
  fi
  dpkg-deb -x "$cache/$deb" "$cache/root"
}

# The metapackage follows the current kernel; it depends on the versioned image.
kernel_package=$(apt-cache depends linux-image-rt-armmp:armhf |
  sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -n 1)
if [[ -z $kernel_package ]]; then
  echo "armhf-vm: cannot resolve linux-image-rt-armmp:armhf (see scripts/install-deps.sh)" >&2
  exit 1
fi
version=${kernel_package#linux-image-}
if [[ ! -f $cache/root/boot/vmlinuz-$version ]]; then
  rm -rf "$cache/root" "$cache"/*.deb
  unpack_package "$kernel_package"
  unpack_package busybox-static
fi
kernel=$cache/root/boot/vmlinuz-$version
a9_dtb=$cache/root/usr/lib/linux-image-$version/vexpress-v2p-ca9.dtb

echo "armhf-vm: kernel $version"
ctest --preset armhf --show-only=json-v1 >"$cache/tests.json"
python3 scripts/armhf-vm-image.py --tests "$cache/tests.json" --source "$source_dir" --build "$build_dir" \
  --busybox "$cache/root/bin/busybox" --sysroot /usr/arm-linux-gnueabihf/lib --output "$cache/initrd.gz" --only "$only"

# boot <machine>: runs the suite on one machine; its console goes to
# $cache/<machine>.log.
boot() {
  local machine=$1 board
  case $machine in
    virt) board=(-M virt -cpu cortex-a15 -append "console=ttyAMA0 rdinit=/init panic=1") ;;
    a9) board=(-M vexpress-a9 -cpu cortex-a9 -dtb "$a9_dtb" -audiodev none,id=snd0
               -append "console=ttyAMA0 rdinit=/init panic=1") ;;
  esac
  # -nic none: the default network card wants a ROM that a recommends-less
  # qemu lacks, and the suite needs no network.
  timeout -k 5 "$time_limit" qemu-system-arm "${board[@]}" -smp 2 -m 1024 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$cache/initrd.gz" </dev/null >"$cache/$machine.log" 2>&1
}

failed_machines=()
for machine in $machines; do
  start=$SECONDS
  rc=0
  boot "$machine" || rc=$?
  log=$cache/$machine.log
  summary=$(tr -d '\r' <"$log" | grep -E '^[0-9]+ passed, [0-9]+ failed' | tail -n 1 || true)
  tr -d '\r' <"$log" | grep -E '^(vm:|FAILED:|MISSING:|    )' || true
  echo "armhf-vm: $machine: ${summary:-no summary} ($((SECONDS - start)) s)"
  if ((rc == 124 || rc == 137)); then
    echo "armhf-vm: $machine did not finish within ${time_limit} s"
  fi
  if [[ ! $summary =~ ^([0-9]+)\ passed,\ 0\ failed ]] || ((BASH_REMATCH[1] == 0)); then
    failed_machines+=("$machine")
    echo "---- last lines of the $machine console ($log)"
    tail -n 40 "$log"
  fi
done

if ((${#failed_machines[@]})); then
  echo "armhf-vm: FAILED on ${failed_machines[*]}"
  exit 1
fi
echo "armhf-vm: passed on ${machines}"
