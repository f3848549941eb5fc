#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"
# The fuzz targets: built with clang and the sanitizers, a few seconds each.
tests/fuzz/run.sh
# Benchmark figures for the record (they print, they do not judge): the
# spreadsheet engine's start and a 1,000-cell workbook each way.
build/bench_spreadsheet 3
