#!/bin/sh
# Installs what is missing, builds the library with its tests and runs the whole suite.
# Environment: OX_BUILD_DIR (default build), OX_SANITIZE ("address,undefined" or "thread"),
# OX_CTEST_ARGS (extra ctest arguments, e.g. "-L pipe"). Slow tests (label "soak") are left out;
# run them with: ctest --test-dir build -L soak
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps
dir=${OX_BUILD_DIR:-build}
extra=""
if [ -n "${OX_SANITIZE:-}" ]; then
  extra="-DOX_BUILD_BENCHMARKS=OFF -DOX_BUILD_EXAMPLES=OFF"
fi
cmake -S . -B "$dir" -DOX_SANITIZE="${OX_SANITIZE:-}" $extra
cmake --build "$dir" -j"$(nproc)"
# shellcheck disable=SC2086
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -LE soak ${OX_CTEST_ARGS:-}
