#!/usr/bin/env bash
# Builds the reference documentation and fails when Doxygen warns about any
# of its pages (the front page, the public header, the stand-ins' control
# headers: an undocumented function, status or type, a wrong parameter name,
# a broken reference), when the front page or a header is missing from it,
# when an exported function has no documentation, or when a function of the
# public header leaves a parameter or its result undescribed.
#
#   checkDocs.sh DOXYGEN DOCS_DIR EXPORTS_TXT
set -euo pipefail
doxygen=$1 dir=$2 exports=$3

rm -rf "$dir/html" "$dir/xml" "$dir/warnings.log"
(cd "$dir" && "$doxygen" Doxyfile)
if [[ -s $dir/warnings.log ]]; then
  echo "Doxygen warnings:"
  cat "$dir/warnings.log"
  exit 1
fi

for page in ViDazoHx_8h ViDazoSim_8h VoKelSrvSim_8h HostRuntimeSim_8h; do
  [[ -s $dir/xml/$page.xml ]] || { echo "not in the reference: $page"; exit 1; }
done
grep -q 'Where to start' "$dir/html/index.html" || { echo "the front page is missing"; exit 1; }
[[ -s $dir/html/diagnosing.html ]] || { echo "the page \"Diagnosing a host\" is missing"; exit 1; }

# Every function of the public header describes each parameter and its
# result: that is where a host reads what a call may answer.
xml=$dir/xml/ViDazoHx_8h.xml
incomplete=$(awk '
  /<memberdef kind="function"/ { inside = 1; params = 0; described = 0; result = 0; name = "" }
  inside && /<declname>/ { params++ }
  inside && /<parameteritem>/ { described++ }
  inside && /<simplesect kind="return">/ { result = 1 }
  inside && /<name>/ && name == "" { name = $0; gsub(/.*<name>|<\/name>.*/, "", name) }
  inside && /<\/memberdef>/ { inside = 0; if (described < params || !result) print name }' "$xml")
if [[ -n $incomplete ]]; then
  echo "parameters or result not described: $incomplete"
  exit 1
fi

# Every exported function appears in the file's reference with a description.
missing=0 documented=0
for name in $(grep -E '^ViDazoHx_' "$exports"); do
  entry=$(awk -v name="$name" '
    /<memberdef kind="function"/ { inside = 1; text = "" }
    inside { text = text $0 "\n" }
    inside && /<\/memberdef>/ { inside = 0; if (text ~ "<name>" name "</name>") print text }' "$xml")
  if [[ -z $entry ]] || ! grep -q '<para>' <<<"$entry"; then
    echo "not documented: $name"
    missing=$((missing + 1))
  else
    documented=$((documented + 1))
  fi
done
echo "documented functions: $documented, missing: $missing; html in $dir/html/index.html"
((missing == 0))
