#!/usr/bin/env bash
# `make bench`: the comparison with other converters, then the engine's document benchmark
# when it has been built.
set -euo pipefail
cd "$(dirname "$0")/.."
bash bench/compare.sh "$@"
if [[ -x build/bin/DocumentBench ]]; then
    echo
    echo "== DocumentBench"
    build/bin/DocumentBench
fi
