#!/usr/bin/env bash
# Static analysis of the library (src/) and the stand-ins (sim/): clang-tidy
# 14 with the checks of .clang-tidy, and cppcheck (warning, performance and
# portability findings). Both compile each file exactly as the build does,
# from the build tree's compile_commands.json.
#
#   scripts/lint.sh [build-dir]    default: build/default, configured with the
#                                  default preset first if it has no
#                                  compile_commands.json yet
#
# Any finding fails the run (exit 1). A finding that does not apply is
# suppressed where it is reported, with its reason on the same line:
# NOLINT(check) / NOLINTNEXTLINE(check) for clang-tidy,
# "cppcheck-suppress id ; reason" for cppcheck. Runs two files at a time.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/default}
jobs=2

if [[ ! -f $build/compile_commands.json ]]; then
  if [[ $build != build/default ]]; then
    echo "lint: no compile_commands.json in $build" >&2
    exit 2
  fi
  cmake --preset default >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The build compiles some sources twice (into the library and into the test
# objects); each file is analysed once. Largest first, so that the two jobs
# end at about the same time.
python3 - "$root" "$build/compile_commands.json" "$work" <<'EOF'
import json, os, sys
root, database, work = sys.argv[1:]
seen, entries = set(), []
for entry in json.load(open(database)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    if path in seen or not any(path.startswith(f"{root}/{d}/") for d in ("src", "sim")):
        continue
    seen.add(path)
    entries.append(dict(entry, file=path))
entries.sort(key=lambda e: os.path.getsize(e["file"]), reverse=True)
json.dump(entries, open(f"{work}/compile_commands.json", "w"), indent=1)
with open(f"{work}/files", "w") as files:
    files.writelines(e["file"] + "\n" for e in entries)
EOF
count=$(wc -l <"$work/files")
if ((count == 0)); then
  echo "lint: no source of src/ or sim/ in $build/compile_commands.json" >&2
  exit 2
fi

start=$SECONDS
echo "lint: cppcheck over $count files"
cppcheck --project="$work/compile_commands.json" -j "$jobs" --quiet \
  --enable=warning,performance,portability --inline-suppr --std=c++17 --library=posix \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' 2>"$work/cppcheck.txt"
# In quiet mode cppcheck prints nothing but its findings.
cppcheckFindings=$(grep -c . "$work/cppcheck.txt" || true)
cat "$work/cppcheck.txt"

echo "lint: clang-tidy over $count files"
mkdir "$work/tidy"
# One output file per source, so the two jobs' reports do not interleave.
# Findings are errors (WarningsAsErrors), so a file with any, or one that
# clang-tidy could not process, exits non-zero and is listed in "failed".
export work
xargs -P "$jobs" -I{} sh -c \
  'clang-tidy-14 -p "$work" --quiet --header-filter="^$0/(src|sim|include)/" "$1" \
     >"$work/tidy/$(echo "$1" | tr / _).txt" 2>&1 || echo "$1" >>"$work/failed"' "$root" {} <"$work/files"
# A header's finding is reported once per file that includes it.
cat "$work"/tidy/*.txt | grep -v -e '^[0-9]* warnings\? generated' -e '^Suppressed [0-9]* warnings' \
  -e '^Use -header-filter' -e '^Error while processing' >"$work/tidy.txt" || true
grep -E '^/.*:[0-9]+:[0-9]+: (warning|error): ' "$work/tidy.txt" | sort -u >"$work/tidy-findings.txt" || true
tidyFindings=$(wc -l <"$work/tidy-findings.txt")
if ((tidyFindings > 0)); then
  cat "$work/tidy.txt"
  echo
  echo "lint: clang-tidy findings, each once:"
  cat "$work/tidy-findings.txt"
fi

failed=0
if [[ -s $work/failed ]]; then
  failed=$(wc -l <"$work/failed")
  if ((tidyFindings == 0)); then
    echo "lint: clang-tidy failed, without a finding, on:"
    cat "$work/failed"
  fi
fi

echo "lint: ${tidyFindings} clang-tidy and ${cppcheckFindings} cppcheck findings ($((SECONDS - start)) s)"
((tidyFindings == 0 && failed == 0 && cppcheckFindings == 0))
