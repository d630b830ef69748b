#!/bin/sh
# Installs what is missing, builds the library and the example host application, and runs it.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps
cmake -S . -B build
cmake --build build -j"$(nproc)" --target ox_example_hello
./build/bin/ox_example_hello
