#!/usr/bin/env bash
# Installs what is missing, builds the console updater, the virtual device and
# the benchmark, then measures how close an update of every carried image
# comes to the limit of the serial line and the device's flash: in the default
# mode and with --fast, on the line itself and behind USB adapters with a
# 16 ms and a 1 ms latency timer.
# Arguments go to pelmark-bench (e.g. --runs 9). Not part of the tests.
# With --station first: one device against several at once through the
# station instead (pelmark-station-bench; e.g. --station --ports 8 --runs 5).
source "$(dirname "$0")/common.sh"
pelmark_install_missing
cmake -S "$PELMARK_ROOT" -B "$PELMARK_BUILD" -G Ninja
if [ "${1:-}" = "--station" ]; then
  shift
  cmake --build "$PELMARK_BUILD" -j "$PELMARK_JOBS" --target pelmark-flash pelmark-devsim pelmark-station-bench
  echo "== load before the runs: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"
  exec "$PELMARK_BUILD/bench/pelmark-station-bench" \
    --flash "$PELMARK_BUILD/cli/pelmark-flash" \
    --devsim "$PELMARK_BUILD/devsim/pelmark-devsim" "$@"
fi
cmake --build "$PELMARK_BUILD" -j "$PELMARK_JOBS" --target pelmark-flash pelmark-devsim pelmark-bench
echo "== load before the runs: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min)"
"$PELMARK_BUILD/bench/pelmark-bench" \
  --flash "$PELMARK_BUILD/cli/pelmark-flash" \
  --devsim "$PELMARK_BUILD/devsim/pelmark-devsim" "$@"
