#!/usr/bin/env bash
# Builds the reference documentation and fails when Doxygen warns about the
# public header (an undocumented function, parameter, status or type, or a
# broken reference) or when an exported function has no documentation.
#
#   checkDocs.sh DOXYGEN DOCS_DIR EXPORTS_TXT
set -euo pipefail
doxygen=$1 dir=$2 exports=$3

rm -rf "$dir/html" "$dir/xml" "$dir/warnings.log"
(cd "$dir" && "$doxygen" Doxyfile)
if [[ -s $dir/warnings.log ]]; then
  echo "Doxygen warnings about the public header:"
  cat "$dir/warnings.log"
  exit 1
fi

# Every exported function appears in the file's reference with a description.
xml=$dir/xml/ViDazoHx_8h.xml
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
