#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Linux suite, the
# same suite under the sanitizers, the fuzz targets over their seeds, and the
# Windows build under Wine.
source "$(dirname "$0")/common.sh"
pelmark_install_missing
pelmark_build

passed=0
failed=0
stage() {
  local name="$1"
  shift
  echo "== $name"
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "== $name FAILED"; fi
}

stage "Linux tests" env QT_QPA_PLATFORM=offscreen \
  ctest --test-dir "$PELMARK_BUILD" --output-on-failure -j "$PELMARK_JOBS" --timeout 600
stage "Sanitizers (ASan, UBSan, leaks)" "$PELMARK_ROOT/scripts/sanitize.sh"
stage "Fuzz targets over their seed corpora" env PELMARK_FUZZ_SECONDS=0 "$PELMARK_ROOT/scripts/fuzz.sh"
stage "Windows build under Wine" "$PELMARK_ROOT/scripts/wine-check.sh" "$PELMARK_BUILD"

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
