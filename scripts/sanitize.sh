#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite under them (the desktop program's tests included,
# headless). Any report fails the run.
#
#   ./scripts/sanitize.sh                  # build in build-asan/, run every test
#   PELMARK_ASAN_BUILD=<dir> PELMARK_JOBS=<n> ./scripts/sanitize.sh [ctest args...]
source "$(dirname "$0")/common.sh"
pelmark_install_missing

BUILD="${PELMARK_ASAN_BUILD:-$PELMARK_ROOT/build-asan}"
cmake -S "$PELMARK_ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMARK_SANITIZE=ON -DPELMARK_BUILD_GUI=ON -DPELMARK_BUILD_TESTS=ON
cmake --build "$BUILD" -j "$PELMARK_JOBS"

# The first report of either sanitizer ends the program with a failure.
# Leaks are checked too, the desktop program's tests included (Qt offscreen
# leaves nothing behind that LeakSanitizer reports, so no suppressions).
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen

cd "$BUILD"
ctest --output-on-failure -j "$PELMARK_JOBS" --timeout 900 "$@"
