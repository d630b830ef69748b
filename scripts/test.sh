#!/bin/sh
# Installs what is missing, builds the library with its tests and runs the whole suite.
# Environment: OX_BUILD_DIR (default build), OX_SANITIZE ("address,undefined" or "thread"),
# OX_CTEST_ARGS (extra ctest arguments, e.g. "-L pipe"), OX_BUILD_TARGETS (build only these
# targets, e.g. "ox_tests_pipe"). Slow tests (label "soak") are left out;
# run them with: ctest --test-dir build -L soak
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps
dir=${OX_BUILD_DIR:-build}
extra=""
if [ -n "${OX_SANITIZE:-}" ]; then
  extra="-DOX_BUILD_BENCHMARKS=OFF -DOX_BUILD_EXAMPLES=OFF"
fi
# ThreadSanitizer: Debian's Qt is not instrumented; the suppressions cover calls made from inside it.
export TSAN_OPTIONS="${TSAN_OPTIONS:-suppressions=$(pwd)/cmake/tsan.supp halt_on_error=1 second_deadlock_stack=1}"
cmake -S . -B "$dir" -DOX_SANITIZE="${OX_SANITIZE:-}" $extra
if [ -n "${OX_BUILD_TARGETS:-}" ]; then
  # shellcheck disable=SC2086
  cmake --build "$dir" -j"$(nproc)" --target ${OX_BUILD_TARGETS}
else
  cmake --build "$dir" -j"$(nproc)"
fi
# shellcheck disable=SC2086
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" -LE soak ${OX_CTEST_ARGS:-}
