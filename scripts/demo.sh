#!/usr/bin/env bash
# Builds vidazohx-demo (and the example hosts) with the demo preset, which
# needs neither the test frameworks nor the cross tools, and runs the demo
# against the simulated target. Arguments go to the demo (--elements N,
# --chunk N).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset demo >/dev/null
cmake --build --preset demo
# The library opens the lower library by name through the loader's search
# path, as on a target; here that is the build tree's lib/.
LD_LIBRARY_PATH="$PWD/build/demo/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  exec build/demo/bin/vidazohx-demo "$@"
