#!/usr/bin/env bash
# Sets up the machine, builds the fuzz targets (the fuzz preset: clang 14 with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each one for SECONDS (default
# 20) from a copy of its seed corpus, fuzz/corpus/<target>/; the committed seeds are never
# changed. Fails when any target crashes, leaks, times out, runs out of memory or gets a
# sanitizer report, and says where the input that did it was saved.
#
#     bash scripts/fuzz.sh [SECONDS]
#
# What a run leaves in build/fuzz/:
#   runs/<target>/corpus/  the corpus it grew (replaced by the next run); inputs worth
#                          keeping can be merged into the seeds with
#                          build/fuzz/fuzz/fuzz_<target> -merge=1 fuzz/corpus/<target> DIR
#   runs/<target>/log      libFuzzer's output
#   findings/<target>/     crash-, leak-, timeout- and oom- inputs (kept across runs);
#                          build/fuzz/fuzz/fuzz_<target> FILE replays one
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: bash scripts/fuzz.sh [SECONDS]   (seconds per target, default 20)" >&2
  exit 2
fi

bash scripts/setup.sh
cmake --preset fuzz
cmake --build --preset fuzz

bin=build/fuzz/fuzz
runs=build/fuzz/runs
findings=build/fuzz/findings
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

mapfile -t targets < <(grep -v '^$' "$bin/targets.txt")
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets listed in $bin/targets.txt" >&2
  exit 1
fi

failed=()
for name in "${targets[@]}"; do
  seeds=fuzz/corpus/$name
  if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    echo "fuzz: target $name has no seed corpus in $seeds/" >&2
    failed+=("$name")
    continue
  fi
  corpus=$runs/$name/corpus
  log=$runs/$name/log
  rm -rf "$runs/$name"
  mkdir -p "$corpus" "$findings/$name"
  cp "$seeds"/* "$corpus"/
  before=$(ls -A "$findings/$name" | wc -l)

  echo "fuzz: $name for ${seconds}s"
  status=0
  "$bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/$name/" "$corpus" >"$log" 2>&1 || status=$?

  # A report counts even if the process still ended well.
  if [ $status -eq 0 ] && grep -qE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:' "$log"; then
    status=1
  fi
  if [ $status -ne 0 ]; then
    failed+=("$name")
    echo "fuzz: $name FAILED (exit status $status); the end of $log:" >&2
    tail -n 40 "$log" >&2
    after=$(ls -A "$findings/$name" | wc -l)
    if [ "$after" -gt "$before" ]; then
      echo "fuzz: the input that did it was saved as:" >&2
      ls -t "$findings/$name" | head -n $((after - before)) | sed "s|^|  $findings/$name/|" >&2
      echo "fuzz: replay it with $bin/fuzz_$name FILE" >&2
    fi
    continue
  fi
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  runs_done=$(sed -n 's/^stat::number_of_executed_units:[[:space:]]*//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec:[[:space:]]*//p' "$log")
  coverage=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\).*/\1 edges, \2 features, \3 inputs in the corpus/p' <<<"$done_line")
  echo "fuzz: $name passed: ${runs_done:-?} executions (${rate:-?}/s), ${coverage:-coverage unknown}"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s each without a finding"
