#!/usr/bin/env bash
# Installs libViDazoHx and the stand-ins from a build tree, the way a user
# gets them, and builds and runs host programs against the result:
#
#   --mode install  `cmake --install` of each component into a fresh prefix
#   --mode deb      the .deb packages from CPack, unpacked into a fresh root
#
# Then checks the layout (names, soname links, no RPATH/RUNPATH, components
# disjoint; for the .deb files also the control fields, stripped libraries
# with their debug symbols in the -dbgsym packages, and lintian without
# errors), builds consumer/ and the example C++ host through find_package,
# consumer/host.c and the example C host through pkg-config, and runs them
# against the installed stand-ins with
# LD_LIBRARY_PATH=<prefix>/<libdir>, under the emulator given after `--` when
# the build is a cross build.
#
# package-test.sh --mode install|deb --build-dir DIR --work-dir DIR --cc CC
#                 [--libdir DIR] [--toolchain-file FILE] [--deb-arch ARCH]
#                 [-- EMULATOR...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
mode= build= work= cc= toolchain= deb_arch= libdir=lib
emulator=()
while (($#)); do
  case $1 in
    --mode) mode=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --work-dir) work=$2; shift 2 ;;
    --cc) cc=$2; shift 2 ;;
    --libdir) libdir=$2; shift 2 ;;
    --toolchain-file) toolchain=$2; shift 2 ;;
    --deb-arch) deb_arch=$2; shift 2 ;;
    --) shift; emulator=("$@"); break ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[[ -n $mode && -n $build && -n $work && -n $cc ]] || { echo "missing arguments" >&2; exit 2; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo; echo "--- $*"; }

rm -rf "$work"
mkdir -p "$work"

# Lists the files and links under a directory, relative to it, sorted.
tree_of() { (cd "$1" && find . -mindepth 1 \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort); }

# ---- lay the installation out -------------------------------------------

if [[ $mode == install ]]; then
  prefix=$work/prefix
  for component in library development sim; do
    step "install component $component"
    cmake --install "$build" --prefix "$work/only-$component" --component "$component" >/dev/null
    cmake --install "$build" --prefix "$prefix" --component "$component"
  done

  step "the library component holds the library, its gdb extension, copyright and changelog"
  expected="$libdir/libViDazoHx.so"$'\n'"$libdir/libViDazoHx.so.inherit"
  expected+=$'\nshare/doc/libvidazohx/changelog.gz\nshare/doc/libvidazohx/copyright'
  expected+=$'\n'"share/gdb/auto-load/usr/$libdir/libViDazoHx.so.inherit-gdb.py"
  got=$(tree_of "$work/only-library")
  [[ $got == "$expected" ]] || fail "library component holds:"$'\n'"$got"

  step "components do not overlap"
  dups=$(for c in library development sim; do tree_of "$work/only-$c"; done | sort | uniq -d)
  [[ -z $dups ]] || fail "files in more than one component:"$'\n'"$dups"
elif [[ $mode == deb ]]; then
  step "build the .deb packages"
  (cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
  root=$work/root
  prefix=$root/usr
  declare -A want_section=([libvidazohx]=libs [libvidazohx-dev]=libdevel [vidazohx-sim]=devel)
  for package in libvidazohx libvidazohx-dev vidazohx-sim; do
    debs=("$work/debs/${package}_"*.deb)
    if [[ ! -f ${debs[0]} ]]; then
      fail "no package $package in: $(ls "$work/debs")"
      continue
    fi
    deb=${debs[0]}
    step "$(basename "$deb")"
    dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
    [[ $(dpkg-deb -f "$deb" Package) == "$package" ]] || fail "$deb: wrong Package field"
    [[ -z $deb_arch || $(dpkg-deb -f "$deb" Architecture) == "$deb_arch" ]] ||
      fail "$deb: architecture $(dpkg-deb -f "$deb" Architecture), want $deb_arch"
    [[ $(dpkg-deb -f "$deb" Section) == "${want_section[$package]}" ]] || fail "$deb: wrong Section"
    [[ $(dpkg-deb -f "$deb" Multi-Arch) == same ]] || fail "$deb: not Multi-Arch: same"
    dpkg-deb -x "$deb" "$root"
    for doc in copyright changelog.gz; do
      [[ -f $root/usr/share/doc/$package/$doc ]] || fail "$deb: no /usr/share/doc/$package/$doc"
    done
  done
  for package in libvidazohx vidazohx-sim; do
    ddebs=("$work/debs/${package}-dbgsym_"*.ddeb)
    [[ -f ${ddebs[0]} ]] || { fail "no debug symbols package for $package"; continue; }
    dpkg-deb -x "${ddebs[0]}" "$work/dbgsym"
  done
  [[ $(dpkg-deb -f "$work/debs/"libvidazohx-dev_*.deb Depends) == libvidazohx* ]] ||
    fail "libvidazohx-dev does not depend on libvidazohx"
  [[ -z $(dpkg-deb -c "$work/debs/"libvidazohx_*.deb | grep -E '\.h$|\.pc$|\.cmake$') ]] ||
    fail "development files in the runtime package"
else
  echo "unknown mode $mode" >&2
  exit 2
fi

lib=$prefix/$libdir

step "layout under $prefix"
tree_of "$prefix"
for f in include/ViDazoHx/ViDazoHx.h \
         "$libdir"/{libViDazoHx.so.inherit,libViDazo.so.inherit,libVoKelSrv.so.13,libHostRuntimeSim.so} \
         "$libdir"/cmake/ViDazoHx/ViDazoHxConfig{,Version}.cmake "$libdir"/cmake/ViDazoSim/ViDazoSimConfig.cmake \
         "$libdir"/pkgconfig/{vidazohx,vidazosim,vokelsrvsim,hostruntimesim}.pc; do
  [[ -f $prefix/$f ]] || fail "missing $f"
done
# The host opens libViDazoHx.so and the library opens libViDazo.so by these
# names, so the links must resolve to the versioned files.
for link in libViDazoHx.so:libViDazoHx.so.inherit libViDazo.so:libViDazo.so.inherit \
            libVoKelSrv.so:libVoKelSrv.so.13 libHostRuntimeSim.so:libHostRuntimeSim.so.1; do
  [[ -L $lib/${link%%:*} && $(readlink "$lib/${link%%:*}") == "${link#*:}" ]] ||
    fail "$lib/${link%%:*} is not a link to ${link#*:}"
done
# Every header of the stand-ins is installed.
for h in $(cd "$here/../../sim/include" && find . -name '*.h' | sed 's|^\./||'); do
  [[ -f $prefix/include/$h ]] || fail "stand-in header $h not installed"
done

step "dynamic sections"
for so in "$lib"/*.so*; do
  [[ -L $so ]] && continue
  dyn=$(readelf -d "$so")
  if grep -qE '\((RPATH|RUNPATH)\)' <<<"$dyn"; then
    fail "$(basename "$so") carries a search path: $(grep -E 'RPATH|RUNPATH' <<<"$dyn")"
  fi
done
if [[ $mode == deb ]]; then
  step "libraries stripped, debug symbols in the -dbgsym packages"
  for so in "$lib"/*.so*; do
    [[ -L $so ]] && continue
    if readelf -SW "$so" | grep -qE ' \.(symtab|debug_info) '; then
      fail "$(basename "$so") is not stripped"
    fi
    id=$(readelf -n "$so" | sed -n 's/.*Build ID: //p')
    [[ -n $id && -f $work/dbgsym/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug ]] ||
      fail "no debug symbols for $(basename "$so") (build id '$id')"
  done

  step "lintian"
  # Errors fail the test; warnings are listed (cmake/PACKAGING.md says why
  # those left are there).
  lintian --fail-on error --tag-display-limit 0 "$work"/debs/*.deb "$work"/debs/*.ddeb ||
    fail "lintian reports errors"

  step "static probes in the stripped library"
  "$here/../gdb/checkGdb.sh" probes readelf "$lib/libViDazoHx.so.inherit" || fail "probes missing"

  step "gdb extension auto-loaded from the package, debug information from the -dbgsym package"
  extension=$root/usr/share/gdb/auto-load/usr/$libdir/libViDazoHx.so.inherit-gdb.py
  [[ -f $extension ]] || fail "no gdb extension at $extension"
  # gdb looks for <scripts-directory>/<real path of the library>-gdb.py.
  # The library lies under $root here, not under /, so the directory
  # standing for $root/usr leads into the package's auto-load directory.
  mirror=$work/gdb-auto-load
  mkdir -p "$mirror$root"
  ln -s "$root/usr/share/gdb/auto-load/usr" "$mirror$root/usr"
  auto_load=(-iex "set auto-load scripts-directory $mirror" -iex "set auto-load safe-path $root:$mirror")
  through=()
  ((${#emulator[@]} == 0)) || through=(--emulator "${emulator[@]}" --)
  rc=0
  "$here/../gdb/checkGdb.sh" gdb "$build/bin/vidazohx_state_host" "$lib" "$work/gdb" "${through[@]}" \
    "${auto_load[@]}" -iex "set debug-file-directory $work/dbgsym/usr/lib/debug" || rc=$?
  if ((rc == 77)); then
    echo "SKIPPED: the gdb checks of the package (the reason is above)"
  elif ((rc != 0)); then
    fail "gdb checks of the package"
  elif ((${#emulator[@]} == 0)); then
    out=$(LD_LIBRARY_PATH=$lib timeout 60 gdb -q -nx -batch "${auto_load[@]}" -iex "set debug-file-directory $work" \
      -ex 'break stateReached' -ex run -ex 'vidazohx sessions' -ex kill "$build/bin/vidazohx_state_host" 2>&1)
    grep -q 'vidazohx: no debug information for libViDazoHx.so' <<<"$out" ||
      fail "without the -dbgsym package the extension does not say what is missing: $out"
  fi
fi

soname=$(readelf -d "$lib/libViDazoHx.so.inherit" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname == libViDazoHx.so.inherit ]] || fail "SONAME is '$soname'"
echo "SONAME $soname"

run() {
  echo "\$ $*"
  LD_LIBRARY_PATH=$lib "${emulator[@]}" "$@" || fail "$(basename "$1") exited with $?"
}

step "host programs built through find_package"
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
if [[ -n $toolchain ]]; then
  # The toolchain confines package search to the cross sysroot; point at the
  # installed packages directly.
  cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain"
               -DViDazoHx_DIR="$lib/cmake/ViDazoHx" -DViDazoSim_DIR="$lib/cmake/ViDazoSim")
else
  cmake_args+=(-DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc")
fi
for variant in sim:ON:host-sim own-runtime:OFF:host-own-runtime; do
  IFS=: read -r name with_sim program <<<"$variant"
  dir=$work/consumer-$name
  if cmake "${cmake_args[@]}" -S "$here/consumer" -B "$dir" -DCONSUMER_WITH_SIM="$with_sim" >"$dir.configure.log" 2>&1 &&
     cmake --build "$dir" >"$dir.build.log" 2>&1; then
    run "$dir/$program"
  else
    cat "$dir.configure.log" "$dir.build.log" 2>/dev/null
    fail "consumer $name did not build through find_package"
  fi
done

step "host program built through pkg-config"
export PKG_CONFIG_LIBDIR=$lib/pkgconfig PKG_CONFIG_PATH=
pkg-config --validate vidazohx vidazosim vokelsrvsim hostruntimesim || fail "invalid .pc file"
[[ $(pkg-config --modversion vidazohx) == "$(sed -n 's/^Version: //p' "$lib/pkgconfig/vidazohx.pc")" ]]
flags=$(pkg-config --cflags --libs vidazohx hostruntimesim) || fail "pkg-config failed"
echo "pkg-config: $flags"
# shellcheck disable=SC2086 # flags are words
if "$cc" -std=c99 -Wall -Wextra -Werror -pedantic "$here/consumer/host.c" $flags -o "$work/host-pc" \
     -Wl,-rpath-link,"$lib"; then
  run "$work/host-pc"
else
  fail "host.c did not build through pkg-config"
fi

# The examples are what a new user copies; build them out of the tree exactly
# as examples/README.md tells (the C host with its Makefile, the C++ host with
# its CMakeLists.txt) and run them.
examples=$here/../../examples
step "example C host built through pkg-config (its Makefile)"
cp -r "$examples/c-host" "$work/example-c-host"
if make -s -C "$work/example-c-host" CC="$cc" >"$work/example-c-host.build.log" 2>&1; then
  run "$work/example-c-host/host"
else
  cat "$work/example-c-host.build.log"
  fail "the example C host did not build through pkg-config"
fi

step "example C++ host built through find_package (its CMakeLists.txt)"
dir=$work/example-cpp-host
if cmake "${cmake_args[@]}" -S "$examples/cpp-host" -B "$dir" >"$dir.configure.log" 2>&1 &&
   cmake --build "$dir" >"$dir.build.log" 2>&1; then
  run "$dir/cpp-host"
else
  cat "$dir.configure.log" "$dir.build.log" 2>/dev/null
  fail "the example C++ host did not build through find_package"
fi

echo
if ((failures)); then
  echo "package test ($mode): $failures failure(s)"
  exit 1
fi
echo "package test ($mode): passed"
