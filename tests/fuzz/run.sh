#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and
# UndefinedBehaviorSanitizer included) and runs each on its seed corpus for
# a few seconds. A crash, a sanitizer report or a failed property check
# fails the script. New inputs the fuzzers find go to a temporary folder,
# never into the seed corpus.
#   FUZZ_SECONDS  run time per target (default 3)
#   FUZZ_BUILD    build folder (default build-fuzz in the source tree)
#   FUZZ_TARGETS  targets to run (default: all), e.g. "date json"
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${FUZZ_SECONDS:-3}"
build="${FUZZ_BUILD:-$root/build-fuzz}"
targets="${FUZZ_TARGETS:-base64 obi batch_xml sql_dialect url_coding json xml_dom xsl_pattern date}"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -DQUILLON_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=Fuzz -DCMAKE_CXX_FLAGS_FUZZ="-O0 -gline-tables-only" -DCMAKE_C_FLAGS_FUZZ="-O0 -gline-tables-only" \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target quillon_fuzzers

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export no_proxy=127.0.0.1

# One target: its log in $work/NAME.log, its exit status in $work/NAME.rc.
fuzz_one() {
  local t="$1"
  mkdir -p "$work/$t"
  set +e
  "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$t-" "$work/$t" "$here/corpus/$t" >"$work/$t.log" 2>&1
  echo $? >"$work/$t.rc"
}

# As many targets at a time as there are processors.
jobs_max="$(nproc)"
for t in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs_max" ]; do wait -n || true; done
  fuzz_one "$t" &
done
wait

status=0
for t in $targets; do
  if [ "$(cat "$work/$t.rc")" = 0 ]; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")"
    printf '%-12s ok   %s runs in %ss\n' "$t" "${runs:-?}" "$seconds"
  else
    printf '%-12s FAILED\n' "$t"
    tail -n 60 "$work/$t.log"
    # The input that failed is kept beside the build to be run again:
    #   $build/tests/fuzz/fuzz_NAME FILE
    mkdir -p "$build/fuzz-failures"
    for a in "$work/$t"-*; do
      [ -e "$a" ] || continue
      cp "$a" "$build/fuzz-failures/"
      echo "input (kept as $build/fuzz-failures/$(basename "$a")):"
      od -c "$a" | head -20
    done
    status=1
  fi
done
exit $status
