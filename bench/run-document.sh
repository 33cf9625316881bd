#!/bin/sh
# Builds the document benchmark with optimisation and runs it: it prints the build and write
# times of documents of 1,000, 5,000 and 10,000 pages and fails when the time grows more than
# twelvefold from 1,000 to 10,000 pages.
set -e
cd "$(dirname "$0")/.."
cmake -S . -B bench/out/build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGEWELL_BUILD_TESTS=OFF >/dev/null
cmake --build bench/out/build -j2 --target DocumentBench
bench/out/build/bin/DocumentBench
