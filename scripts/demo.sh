#!/usr/bin/env bash
# Builds vidazohx-demo with the default preset and runs it against the
# simulated target. Arguments go to the demo (--elements N, --chunk N).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target vidazohx-demo
# The library opens the lower library by name through the loader's search
# path, as on a target; here that is the build tree's lib/.
LD_LIBRARY_PATH="$PWD/build/default/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  exec build/default/bin/vidazohx-demo "$@"
