#!/bin/sh
# Start time of a trivial `quillon call`, against the floor of a C++
# program that links only the standard library, in the same run.
#
#   bench/startup.sh [BUILD_DIR=build] [BASELINE_QUILLON]
#
# BASELINE_QUILLON: another build's quillon binary to time in the same run
# (for example one built from an older commit).
# Needs hyperfine; perf (task-clock) is used when it is installed.
set -eu
build=${1:-build}
baseline=${2:-}
quillon="$build/quillon"
floor="$build/bench_start_floor"
[ -x "$quillon" ] && [ -x "$floor" ] || { echo "build the targets quillon_cli and bench_start_floor first" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is not installed" >&2; exit 2; }

site=$(mktemp -d /tmp/quillon-startup-XXXXXX)
trap 'rm -rf "$site"' EXIT
"$quillon" init "$site/site" --sample >/dev/null
args="call LabelReplacements.I18NCollByReplacementsForASP '\"SLBSH0052\"' 1033 '{\"[%FILENAME%]\": \"order.xsl\"}'"

echo "== libraries loaded by the trivial call (LD_DEBUG=files, LD_DEBUG=statistics)"
for q in "$quillon" ${baseline:+"$baseline"}; do
  libs=$(eval "LD_DEBUG=files $q --site $site/site $args" 2>&1 >/dev/null | grep -c 'calling init' || true)
  stats=$(eval "LD_DEBUG=statistics $q --site $site/site $args" 2>&1 >/dev/null)
  cycles=$(echo "$stats" | sed -n 's/.*total startup time in dynamic loader: *\([0-9]*\) cycles.*/\1/p' | head -1)
  relocs=$(echo "$stats" | sed -n 's/.*number of relocations: *\([0-9]*\).*/\1/p' | head -1)
  printf '%-40s %3s libraries, %9s loader cycles, %6s symbol relocations\n' "$q" "$libs" "$cycles" "$relocs"
done

if command -v perf >/dev/null && perf stat -e task-clock true >/dev/null 2>&1; then
  echo "== CPU time per process (perf stat -r 100, task-clock)"
  for cmd in "$floor" "$quillon --site $site/site $args" ${baseline:+"$baseline --site $site/site $args"}; do
    ms=$(eval "perf stat -x, -e task-clock -r 100 $cmd" 2>&1 >/dev/null | grep task-clock | cut -d, -f1)
    printf '%-40s %8s ms\n' "$(echo "$cmd" | cut -d' ' -f1)" "$ms"
  done
fi

echo "== wall time (hyperfine)"
set -- -N --warmup 10 --runs 200 "$floor" "$quillon --site $site/site $args"
[ -n "$baseline" ] && set -- "$@" "$baseline --site $site/site $args"
hyperfine "$@"
