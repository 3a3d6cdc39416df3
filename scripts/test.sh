#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
source "$(dirname "$0")/common.sh"
pelmark_install_missing
pelmark_build
cd "$PELMARK_BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$PELMARK_JOBS" --timeout 600
