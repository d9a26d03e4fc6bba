#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and package libViDazoHx,
# natively and for armhf under qemu. Only packages that are missing are
# installed, so a second run is quick and touches nothing.
#
#   scripts/install-deps.sh            everything
#   scripts/install-deps.sh --native   without the armhf cross tools
#   scripts/install-deps.sh --demo     only what scripts/demo.sh needs: a
#                                      compiler, CMake and Ninja
#
# Besides the compilers and test frameworks, everything installs the tools the
# checks use: valgrind (instruction counts), doxygen (reference docs), lintian
# (package checks), gnuplot-nox and python3 (the performance report), linux-perf (profiling)
# and clang 14 with its runtime libraries (the libFuzzer target); clang-tidy 14
# and cppcheck (scripts/lint.sh) and gcovr (scripts/coverage.sh);
# systemtap-sdt-dev (<sys/sdt.h>, a build-time header for the static probes)
# and gdb (the tests of the probes and of the gdb extension).
#
# Everything also installs gdb-multiarch (the armhf gdb test debugs its host
# through qemu-arm's gdb stub), and qemu-system-arm and adds armhf as a
# foreign architecture, for scripts/armhf-vm.sh: that script only downloads and
# unpacks the armhf kernel and busybox packages into the build tree. The one
# armhf package installed is systemtap-sdt-dev:armhf, a header pair.
set -euo pipefail

mode=${1:-}
case $mode in
  "" | --native | --demo) ;;
  *) echo "usage: install-deps.sh [--native | --demo]" >&2; exit 2 ;;
esac

packages=(g++ cmake ninja-build)
if [[ $mode != --demo ]]; then
  packages+=(
    build-essential binutils pkgconf
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    valgrind doxygen lintian gnuplot-nox linux-perf clang-14 libclang-rt-14-dev python3
    gdb
  )
  # Named with its architecture: once the armhf one is installed too, a
  # bare name would match both in the check below.
  packages+=("systemtap-sdt-dev:$(dpkg --print-architecture)")
  packages+=(clang-tidy-14 cppcheck gcovr)
fi
if [[ -z $mode ]]; then
  packages+=(crossbuild-essential-armhf qemu-user qemu-system-arm)
  # <sys/sdt.h> and the armhf sdt-config.h for the cross build's static
  # probes, in /usr/include/arm-linux-gnueabihf (src/CMakeLists.txt).
  packages+=(systemtap-sdt-dev:armhf)
  # The armhf gdb test debugs its host through qemu-arm's gdb stub.
  packages+=(gdb-multiarch)
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

# The package lists must know armhf before scripts/armhf-vm.sh can download
# the target's kernel and busybox, and before systemtap-sdt-dev:armhf can be
# installed.
if [[ -z $mode ]] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  echo "install-deps: adding the armhf architecture"
  "${sudo[@]}" dpkg --add-architecture armhf
  "${sudo[@]}" apt-get update -q
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
