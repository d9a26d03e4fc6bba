#!/usr/bin/env bash
# checkAbi.sh: checks the dynamic interface of a built libViDazoHx.so.
#
#   checkAbi.sh <library> <exports list> <readelf> [--allow-sanitizer]
#
# --allow-sanitizer: the build is instrumented; undefined symbols are not checked.
#
# Checks: the exported symbols are exactly those of the exports list; the
# shared-object name; the two
# needed libraries; no RPATH or RUNPATH; every undefined symbol comes from
# the C/C++ runtime (versioned), the host runtime, the lower library or the
# resource broker. readelf reads ELF of any architecture, so the same script
# checks a cross-built library.
set -u

library=$1
exportsList=$2
readelf=${3:-readelf}
allowSanitizer=${4:-}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

[[ -f $library ]] || { echo "FAIL: no library at $library"; exit 1; }

dynamic=$("$readelf" -d -W "$library") || { echo "FAIL: readelf -d failed"; exit 1; }
symbols=$("$readelf" --dyn-syms -W "$library") || { echo "FAIL: readelf --dyn-syms failed"; exit 1; }

# ---- identity and dependencies ----------------------------------------------
grep -q 'Library soname: \[libViDazoHx\.so\.inherit\]' <<<"$dynamic" ||
  fail "SONAME is not libViDazoHx.so.inherit"
for needed in libViDazo.so.inherit libVoKelSrv.so.13; do
  grep -qF "Shared library: [$needed]" <<<"$dynamic" || fail "NEEDED lacks $needed"
done
if grep -Eq '\((RPATH|RUNPATH)\)' <<<"$dynamic"; then
  fail "the library carries a search path: $(grep -E '\((RPATH|RUNPATH)\)' <<<"$dynamic")"
fi

# ---- identity strings ----------------------------------------------------------
# The key=value block in read-only data, for whoever inspects a deployed binary.
if ! LC_ALL=C grep -aq 'ViDazoHx.version=[0-9]' "$library"; then
  fail "the version block (ViDazoHx.version=...) is missing"
fi

# ---- exported symbols -------------------------------------------------------
# Symbol table columns: Num Value Size Type Bind Vis Ndx Name. A defined
# global or weak symbol of default or protected visibility is exported.
exported=$(awk '$5 ~ /^(GLOBAL|WEAK)$/ && $6 ~ /^(DEFAULT|PROTECTED)$/ && $7 != "UND" && NF >= 8 {
                  name = $8; sub(/@.*/, "", name); print name }' <<<"$symbols" | sort -u)

required=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$exportsList" | grep -v '^$' | sort -u)

while read -r name; do
  [[ -z $name ]] && continue
  grep -qxF "$name" <<<"$exported" || fail "missing export: $name"
done <<<"$required"
while read -r name; do
  [[ -z $name ]] && continue
  grep -qxF "$name" <<<"$required" || fail "unexpected export: $name"
done <<<"$exported"

# ---- undefined symbols -------------------------------------------------------
# Versioned runtime symbols (name@GLIBC_..., @GLIBCXX_..., @CXXABI_..., @GCC_...)
# are the C/C++ runtime's. Unversioned ones must be named here.
allowedUnversioned='^(NumericArrayResize|RTSetCleanupProc|EDVR_CreateReference'
allowedUnversioned+='|ViDazoDll_OpenResource|ViDazoDll_AddResources'
allowedUnversioned+='|VoKelSrv_fpga_GetResources|VoKelSrv_broker_GetResourceName'
allowedUnversioned+='|VoKelSrv_broker_GetResourceIndex|VoKelSrv_broker_ReleaseResourceIndex'
allowedUnversioned+='|__gmon_start__|_ITM_registerTMCloneTable|_ITM_deregisterTMCloneTable)$'

# An instrumented build binds the C library's functions to the sanitizer
# runtime, unversioned, so only uninstrumented builds can be checked here.
if [[ $allowSanitizer == --allow-sanitizer ]]; then
  echo "note: sanitizer build, undefined symbols not checked"
else
  undefined=$(awk '$7 == "UND" && NF >= 8 { print $8 }' <<<"$symbols" | sort -u)
  while read -r name; do
    [[ -z $name ]] && continue
    if [[ $name == *@* ]]; then
      version=${name#*@}
      [[ $version =~ ^@?(GLIBC|GLIBCXX|CXXABI|GCC)_ ]] || fail "undefined symbol of an unexpected library: $name"
    elif [[ $name =~ $allowedUnversioned ]]; then
      :
    else
      fail "unexpected undefined symbol: $name"
    fi
  done <<<"$undefined"
fi

if ((failures > 0)); then
  echo "$failures ABI check(s) failed for $library"
  exit 1
fi
echo "ABI of $library as expected ($(wc -l <<<"$exported") exports)"
