#!/usr/bin/env bash
# Builds the release preset and runs every benchmark; each prints its own figures.
#   scripts/bench.sh [name-filter]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench
cmake --preset release
cmake --build --preset release -j "$(nproc)"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
for bench in build/release/bin/bench_*; do
  case "$bench" in *"${1:-}"*) ;; *) continue ;; esac
  echo "== $(basename "$bench")"
  "$bench"
done
# Benchmarks that drive the programs themselves take the folder of their binaries.
for bench in bench/*/bench_*.sh; do
  case "$bench" in *"${1:-}"*) ;; *) continue ;; esac
  echo "== $(basename "$bench")"
  "$bench" build/release/bin
done
