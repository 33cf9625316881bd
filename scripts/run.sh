#!/usr/bin/env bash
# Starts Pagewell from the build tree; until the window exists, lists what was built.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -x build/bin/pagewell ]]; then
    exec build/bin/pagewell "$@"
fi
echo "Built:"
ls -1 build/bin
echo
echo "The window is not there yet; convert from a terminal with:"
echo "  build/bin/pagewell-cli --help"
if [[ -x build/bin/pagewell-cli ]]; then
    build/bin/pagewell-cli --help
fi
