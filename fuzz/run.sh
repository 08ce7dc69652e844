#!/usr/bin/env bash
# Runs every fuzz target of a BELLWAVE_SANITIZE=fuzzer build for SECONDS each, one after
# another, on a copy of its seeds (fuzz/corpus/<name>/ and the made ones), and reports
# per target its coverage, executions and new inputs. A target that fails leaves its
# input under BUILD/fuzz/crashes/<name>/, with the command that replays it in
# replay.txt there; the script then exits 1 once every target has run.
#
# usage: fuzz/run.sh BUILD SECONDS
set -uo pipefail
build=${1:?usage: run.sh BUILD SECONDS}
seconds=${2:?usage: run.sh BUILD SECONDS}
source_dir=$(cd "$(dirname "$0")" && pwd)
seeds=$build/fuzz/seeds
"$source_dir/make_seeds.sh" "$seeds" "$build/share/bellwave/machine.reg" || exit 1

failed=0
for binary in "$build"/fuzz/fuzz_*; do
  [ -x "$binary" ] || continue
  name=${binary##*/fuzz_}
  work=$build/fuzz/run/$name
  crashes=$build/fuzz/crashes/$name
  rm -rf "$work"
  mkdir -p "$work/corpus" "$crashes"
  for folder in "$source_dir/corpus/$name" "$seeds/$name"; do
    [ -d "$folder" ] && cp "$folder"/* "$work/corpus/" 2>/dev/null
  done
  seeded=$(ls "$work/corpus" | wc -l)
  # -timeout: one input running this long counts as a hang.
  "$binary" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$work/corpus" >"$work/log" 2>&1
  status=$?
  cov=$(grep -o 'cov: [0-9]*' "$work/log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$work/log" | tail -1 | cut -d' ' -f2)
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | cut -d' ' -f2)
  found=$(( $(ls "$work/corpus" | wc -l) - seeded ))
  printf '%-16s cov %5s  ft %6s  %9s execs in %ss  %3d seeds, %3d new inputs (%s)\n' \
    "$name" "${cov:-?}" "${ft:-?}" "${execs:-?}" "$seconds" "$seeded" "$found" "$work/corpus"
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "  FAILED (exit $status); log: $work/log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$work/log" | sed 's/^/  /'
    for input in $(grep -o "Test unit written to [^ ]*" "$work/log" | cut -d' ' -f5); do
      echo "  replay: $binary $input" | tee -a "$crashes/replay.txt"
    done
  fi
done
exit $failed
