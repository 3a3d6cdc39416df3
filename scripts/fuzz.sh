#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer, coverage everywhere) in build-fuzz/ and runs each
# for a bounded time, starting from its seed corpus in fuzz/corpus/<target>/.
#
#   ./scripts/fuzz.sh                               # every target, 60 s each
#   PELMARK_FUZZ_SECONDS=600 ./scripts/fuzz.sh fuzz_intel_hex fuzz_reply_parser
#   PELMARK_FUZZ_SECONDS=0 ./scripts/fuzz.sh        # one pass over the seeds only
#
# New inputs go to build-fuzz/fuzz-work/<target>/corpus (the seeds stay as
# committed); a crash leaves its input in build-fuzz/fuzz-work/<target>/ and
# makes the script fail. The last lines are one summary line per target.
source "$(dirname "$0")/common.sh"
pelmark_install_missing clang-14 libclang-rt-14-dev

BUILD="${PELMARK_FUZZ_BUILD:-$PELMARK_ROOT/build-fuzz}"
SECONDS_EACH="${PELMARK_FUZZ_SECONDS:-60}"
ALL=(fuzz_reply_parser fuzz_intel_hex fuzz_fwgen_manifest fuzz_settings_text fuzz_settings_file
     fuzz_com_names fuzz_port_dialog)
TARGETS=("$@")
((${#TARGETS[@]})) || TARGETS=("${ALL[@]}")

CC=clang-14 CXX=clang++-14 cmake -S "$PELMARK_ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMARK_BUILD_FUZZERS=ON -DPELMARK_BUILD_TESTS=OFF -DPELMARK_BUILD_GUI=ON
cmake --build "$BUILD" -j "$PELMARK_JOBS" --target "${TARGETS[@]}"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

summary=()
failed=0
for t in "${TARGETS[@]}"; do
  seeds="$PELMARK_ROOT/fuzz/corpus/$t"
  work="$BUILD/fuzz-work/$t"
  mkdir -p "$work/corpus" "$seeds"
  log="$work/last-run.log"
  echo "== $t: ${SECONDS_EACH} s"
  args=(-artifact_prefix="$work/" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
  if ((SECONDS_EACH > 0)); then
    args+=(-max_total_time="$SECONDS_EACH" "$work/corpus" "$seeds")
  else
    args+=(-runs=0 "$seeds")
  fi
  status=0
  "$BUILD/fuzz/$t" "${args[@]}" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  crashes=$(find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  corpus=$(find "$work/corpus" -type f | wc -l)
  if ((status != 0)); then
    failed=1
    tail -40 "$log"
  fi
  summary+=("$(printf '%-22s %6ss %12s runs  %5s new inputs  %2s crash inputs  status %s' \
    "$t" "${secs:-?}" "${runs:-?}" "$corpus" "$crashes" "$status")")
done

echo "== summary (target, time, executions, corpus growth, crash inputs kept, exit status)"
printf '%s\n' "${summary[@]}"
exit "$failed"
