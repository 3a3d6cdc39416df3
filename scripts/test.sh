#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Linux suite, the
# Debian package and its checks, the same suite under the sanitizers, the fuzz
# targets over their seeds, the Windows build under Wine and the Windows zip
# made from that build.
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
stage "Debian package (lintian, unpacked programs, manual pages)" "$PELMARK_ROOT/scripts/package.sh" --check deb
stage "Sanitizers (ASan, UBSan, leaks)" "$PELMARK_ROOT/scripts/sanitize.sh"
stage "Fuzz targets over their seed corpora" env PELMARK_FUZZ_SECONDS=0 "$PELMARK_ROOT/scripts/fuzz.sh"
stage "Windows build under Wine" "$PELMARK_ROOT/scripts/wine-check.sh" "$PELMARK_BUILD"
# From the cross build the Wine check left in $PELMARK_WIN_BUILD: no second one.
stage "Windows zip" "$PELMARK_ROOT/scripts/package.sh" --check zip

echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
